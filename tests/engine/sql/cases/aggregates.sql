# Aggregates, grouping and HAVING.

SELECT COUNT(*) FROM emp
ordered
6

SELECT COUNT(*) FROM emp WHERE 1 = 0
ordered
0

SELECT COUNT(*), COUNT(salary), COUNT(DISTINCT salary), COUNT(dept_id) FROM emp
ordered
6|5|4|5

SELECT SUM(salary), MIN(salary), MAX(salary) FROM emp
ordered
13000|1000|4000

SELECT AVG(id) FROM emp WHERE id <= 2
ordered
1.5

# Each aggregate node has its own accumulator.
SELECT SUM(salary) + SUM(id), SUM(id) * 2 FROM emp
ordered
13021|42

SELECT SUM(salary), AVG(salary), MIN(name), MAX(name), COUNT(*) FROM emp WHERE id > 100
ordered
NULL|NULL|NULL|NULL|0

SELECT SUM(salary) FROM emp WHERE salary IS NULL
ordered
NULL

# Strings compare under the table's order, not byte order.
SELECT MIN(name), MAX(name) FROM emp
ordered
Ann|eve

SELECT dept_id, COUNT(*), SUM(salary) FROM emp GROUP BY dept_id
ordered
NULL|1|4000
10|2|3000
20|2|5000
30|1|1000

SELECT dept_id, COUNT(DISTINCT salary) FROM emp GROUP BY dept_id
ordered
NULL|1
10|1
20|1
30|1

SELECT dept_id, COUNT(*) FROM emp GROUP BY dept_id HAVING COUNT(*) > 1
ordered
10|2
20|2

SELECT dept_id, SUM(salary) FROM emp GROUP BY dept_id HAVING SUM(salary) > 3000
ordered
NULL|4000
20|5000

SELECT dept_id, SUM(salary) FROM emp GROUP BY dept_id HAVING dept_id > 10
ordered
20|5000
30|1000

SELECT dept_id, COUNT(*) FROM emp GROUP BY dept_id ORDER BY 2 DESC, 1
ordered
10|2
20|2
NULL|1
30|1

# An aggregate in HAVING is read from the result: one that is not there is
# an error, never an unknown that drops every group.
SELECT dept_id, SUM(salary) FROM emp GROUP BY dept_id HAVING MAX(salary) > 1
error: must appear in the result set: salary

SELECT dept_id FROM emp GROUP BY dept_id HAVING COUNT(*) > 1
error: Column name in having clause not found: COUNT(*)

SELECT dept_id FROM emp GROUP BY dept_id
ordered
NULL
10
20
30

@maxrecords 2
SELECT dept_id, COUNT(*) FROM emp GROUP BY dept_id
error: Result set limit of 2 has been exceeded

@maxrecords 4
SELECT dept_id, COUNT(*) FROM emp GROUP BY dept_id
set
NULL|1
10|2
20|2
30|1
