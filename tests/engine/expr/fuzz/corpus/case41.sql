SELECT a,
  b c FROM t