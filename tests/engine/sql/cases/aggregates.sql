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

# Groups of integer columns, Null among them, over the rows of a join.
SELECT e.dept_id, d.dept_id, COUNT(*), SUM(e.salary) FROM emp e, dept d WHERE d.dept_id > 15 GROUP BY e.dept_id, d.dept_id
ordered
NULL|20|1|4000
NULL|40|1|4000
10|20|2|3000
10|40|2|3000
20|20|2|5000
20|40|2|5000
30|20|1|1000
30|40|1|1000

SELECT d.dept_id, COUNT(*), SUM(e.salary) FROM emp e JOIN dept d ON d.dept_id = e.dept_id GROUP BY d.dept_id
ordered
10|2|3000
20|2|5000

SELECT dept_id, COUNT(*) FROM emp WHERE id > 100 GROUP BY dept_id
ordered

# Groups of other columns are found through the result's index.
SELECT salary, COUNT(*), MIN(id) FROM emp GROUP BY salary
ordered
NULL|1|3
1000|1|6
2500|2|2
3000|1|1
4000|1|4

SELECT dept_id, salary, COUNT(*) FROM emp GROUP BY dept_id, salary
ordered
NULL|4000|1
10|NULL|1
10|3000|1
20|2500|2
30|1000|1

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
