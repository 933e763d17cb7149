group by ORDER
 BY