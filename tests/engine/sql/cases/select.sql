# Projections, WHERE and its Null rules, DISTINCT, ORDER BY, UNION.

SELECT id, name FROM emp WHERE id <= 2
ordered
1|Ann
2|Bob

SELECT id * 10 + 1, name FROM emp WHERE id = 3
ordered
31|Cid

# A comparison with Null is unknown: the row is not taken, not even by NOT.
SELECT id FROM emp WHERE salary > 2000
set
1
2
4
5

SELECT id FROM emp WHERE NOT (salary > 2000)
set
6

SELECT id FROM emp WHERE salary IS NULL OR dept_id IS NULL
set
3
4

SELECT id FROM emp WHERE dept_id = 10 OR name = 'Bob'
set
1
2
3

SELECT DISTINCT salary FROM emp
set
3000
2500
NULL
4000
1000

SELECT DISTINCT dept_id, salary FROM emp WHERE dept_id = 20
set
20|2500

SELECT name FROM emp ORDER BY name
ordered
NULL
Ann
Bob
Cid
Dee
eve

SELECT id, salary FROM emp WHERE id < 5 ORDER BY salary DESC, id
ordered
4|4000
1|3000
2|2500
3|NULL

SELECT id, salary FROM emp WHERE id < 5 ORDER BY 2, 1 DESC
ordered
3|NULL
2|2500
1|3000
4|4000

# Two integer columns: ties on the first ordered by the second, its Nulls
# last where it descends; then an integer column before a string one.
SELECT a.dept_id, b.dept_id FROM emp a, emp b WHERE b.id = 4 OR b.id = a.id ORDER BY 1, 2 DESC
ordered
NULL|NULL
10|10
10|10
10|NULL
10|NULL
20|20
20|20
20|NULL
20|NULL
30|30
30|NULL

SELECT dept_id, name FROM emp ORDER BY dept_id DESC, name
ordered
30|NULL
20|Bob
20|eve
10|Ann
10|Cid
NULL|Dee

SELECT e.name, d.dname FROM emp e, dept d WHERE e.dept_id = d.dept_id AND e.id < 3
set
Ann|Sales
Bob|Dev

SELECT dept_id FROM emp UNION SELECT dept_id FROM dept
set
10
20
30
40
NULL

# Integer columns are told apart by their bytes: Null against Null, in a
# row of its own and within the rows already there from the first part.
SELECT DISTINCT a.dept_id, b.dept_id FROM emp a, emp b WHERE b.id = a.id OR b.id = 4
set
10|10
20|20
30|30
NULL|NULL
10|NULL
20|NULL
30|NULL

SELECT dept_id FROM emp UNION SELECT dept_id FROM emp WHERE dept_id IS NULL OR id < 3
set
10
20
30
NULL

SELECT dept_id FROM dept UNION ALL SELECT dept_id FROM emp WHERE id < 3
set
10
20
40
10
20

@maxrecords 3
SELECT id FROM emp
ordered
1
2
3

@param lo=2
@param hi=4
SELECT id FROM emp WHERE id BETWEEN :lo AND :hi
ordered
2
3
4

SELECT id FROM emp WHERE dept_id IN (SELECT dept_id FROM dept WHERE dname = 'Sales')
set
1
3

SELECT dname FROM dept d WHERE EXISTS (SELECT id FROM emp WHERE emp.dept_id = d.dept_id)
set
Sales
Dev

SELECT dname FROM dept d WHERE NOT EXISTS (SELECT id FROM emp WHERE emp.dept_id = d.dept_id)
set
NULL

SELECT id FROM emp WHERE salary = (SELECT MAX(salary) FROM emp)
ordered
4

SELECT id FROM emp e WHERE salary = (SELECT MAX(salary) FROM emp WHERE dept_id = e.dept_id)
set
1
2
5
6

SELECT id FROM emp WHERE dept_id = (SELECT dept_id FROM dept)
error: Single row result set returned multiple rows

SELECT nosuch FROM emp
error: nosuch

SELECT id FROM nosuch
error: Table not found - nosuch

SELECT id FROM emp WHERE id = 1 garbage
error: Token 'garbage'

# DISTINCT compares up to 32 columns.
SELECT DISTINCT id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id FROM emp WHERE id = 1
ordered
1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1|1

SELECT DISTINCT id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id, id FROM emp
error: (32)

SELECT dept_id FROM dept UNION SELECT dept_id FROM emp ORDER BY 1 DESC
ordered
40
30
20
10
NULL

SELECT id FROM emp WHERE name LIKE 'B%' OR name IN ('Cid', 'eve')
set
2
3
5

# LIKE on a text column: runs anywhere, at either end; Null is unknown.
SELECT id FROM emp WHERE name LIKE '%e%'
set
4
5

SELECT id FROM emp WHERE name NOT LIKE '%e%'
set
1
2
3

SELECT id FROM emp WHERE name LIKE '%e' OR name LIKE 'B%b'
set
2
4
5

SELECT id FROM emp WHERE name LIKE name AND name LIKE '_%'
set
1
2
3
4
5

SELECT id FROM emp WHERE name LIKE '%!%%' ESCAPE '!'
ordered

SELECT id FROM emp WHERE name || '%' LIKE 'e%!%' ESCAPE '!'
set
5

SELECT id FROM emp e WHERE EXISTS (SELECT dept_id FROM dept WHERE dept.dept_id = e.dept_id AND dname = 'Dev')
set
2
5

SELECT id FROM emp WHERE dept_id NOT IN (SELECT dept_id FROM dept WHERE dept_id IS NOT NULL)
set
6

# A column named by a long expression gets a name a table can hold.
SELECT id + id + id + id + id + id + id + id + id + id + id + id + id FROM emp WHERE id = 1
ordered
13

SELECT e.id FROM emp e JOIN dept d ON e.dept_id = d.dept_id AND d.dname = 'Dev'
set
2
5
