"""Scores and the tables made from recorded runs."""

import io
import json
import tempfile
import unittest
from pathlib import Path

from mutation import report
from mutation.cli import ALLOW_FILE, ROOT, main
from mutation.families import read_allow
from mutation.generate import generate, product_files


class Reporting(unittest.TestCase):
    def test_score_leaves_out_what_was_not_judged_and_tables_come_from_records(self):
        ms = generate("api/X.cpp", "int f() { return a < 1 && b > 2 || c == 3 && d != 4; }\n")[:10]
        for m, status in zip(ms, ["killed", "killed", "timeout", "survived", "unconfirmed", "nobuild", "allowed",
                                  "notrun", "notrun", "survived"]):
            m.status = status
        c = report.counts(ms)
        self.assertEqual(report.score_text(c), "50.0%")  # 3 of the 6 judged
        self.assertIsNone(report.score(report.counts([m for m in ms if m.status == "notrun"])))
        # The gate: below 90 % fails, unless too few were judged to say.
        self.assertEqual([report.fails(c, 90), report.fails(c, 50), report.fails(c, 90, 6), report.fails(c, 90, 7),
                          report.fails(c, None)], [True, False, True, False, False])
        with tempfile.TemporaryDirectory() as d:
            path = Path(d) / "run.json"
            report.write_json(path, report.head_commit(ROOT), ms, c, {"total_seconds": 600}, {"base": None})
            record = json.loads(path.read_text())
            self.assertEqual(record["counts"]["notrun"], 2)
            # Under today's allow-list, a survivor allowed since counts as allowed.
            allowed = {ms[3].key(): (1, "why")}
            out = io.StringIO()
            report.table_from([path], ["api/X.cpp"], allowed, markdown=True, out=out)
            self.assertIn("| `api/X.cpp` | 10 | 2 | 1 | 1 | 1 | 1 | 2 | 2 | 60.0% |", out.getvalue())
            out = io.StringIO()
            report.table_from([path, path], [], {}, markdown=True, out=out)
            self.assertEqual(out.getvalue().count("| `run.json` | %s | 10 |" % record["commit"][:10]), 2)

    def test_the_documentation_holds_the_tables_of_the_recorded_runs(self):
        records = sorted((ROOT / "docs" / "mutation").glob("*.json"))
        block = report.recorded_block(records, product_files(ROOT), read_allow(ALLOW_FILE))
        self.assertIn(block, (ROOT / "docs" / "testing.md").read_text(),
                      "stale tables: tools/mutate --update-doc docs/testing.md")

    def test_every_product_file_has_a_family_and_is_listed(self):
        out = io.StringIO()
        import contextlib
        with contextlib.redirect_stdout(out):
            self.assertEqual(main(["--list", "--family", "board", "--operators", "ROR"]), 0)
        self.assertIn("board/linux/board_linux.cpp", out.getvalue())
        self.assertNotIn("note:", out.getvalue())  # no stale allow-list entry there


if __name__ == "__main__":
    unittest.main()
