/* lead */ SELECT a -- x
FROM t; SELECT COUNT(*) // tail