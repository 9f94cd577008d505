"""Mutation testing of the product sources: small faults made one at a time
in a scratch copy of the checkout and judged by the tests that can see them.

  scan       the source masked down to its code, and bracket helpers
  operators  what each operator changes
  generate   every mutant of a file; the product files and their headers
  families   the map (files, labels, families), the include graph, the allow-list
  select     samples, seeded orders, the lines changed since a commit
  scratch    the scratch tree, its build, one file under mutation
  run        the unmutated runs, the mutants, the confirmation of kills
  report     scores, tables and the JSON record of a run
  cli        the command, tools/mutate
"""
