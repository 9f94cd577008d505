"""A file under mutation and its restoration, on a small Ninja build."""

import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from mutation.scratch import Mutation, Scratch

PROJECT = {
    "CMakeLists.txt": "cmake_minimum_required(VERSION 3.16)\nproject(p CXX)\n"
                      "add_library(l STATIC a.cpp)\nadd_executable(app main.cpp)\ntarget_link_libraries(app l)\n",
    "a.h": "constexpr int kCode = 7;\nint Code();\n",
    "a.cpp": '#include "a.h"\nint Code() { return kCode; }\n',
    "main.cpp": '#include <cstdio>\n#include "a.h"\nint main() { std::printf("%d %d\\n", Code(), kCode); }\n',
}


@unittest.skipUnless(shutil.which("cmake") and shutil.which("ninja"), "needs CMake and Ninja")
class Restoring(unittest.TestCase):
    def test_a_header_mutant_reaches_every_includer_and_its_restoration_costs_no_compile(self):
        with tempfile.TemporaryDirectory() as d:
            root = Path(d) / "checkout"
            root.mkdir()
            for name, text in PROJECT.items():
                (root / name).write_text(text)
            scratch = Scratch(root, Path(d) / "scratch", 2)
            scratch.sync()
            scratch.configure()
            log = Path(d) / "log"
            self.assertEqual(scratch.ninja([], log)[0], 0)
            app = str(scratch.build / "app")

            mutation = Mutation(scratch, "a.h")
            self.assertEqual(len(mutation.objects), 2)  # a.cpp's and main.cpp's
            mutation.write(mutation.text.replace("7", "8"))
            self.assertEqual(scratch.ninja(mutation.objects + ["app"], log)[0], 0)
            self.assertEqual(subprocess.run([app], capture_output=True, text=True).stdout, "8 8\n")

            mutation.restore()
            self.assertEqual(scratch.ninja(["app"], log)[0], 0)
            self.assertNotIn("Building", log.read_text())  # linked again, nothing compiled
            self.assertEqual(subprocess.run([app], capture_output=True, text=True).stdout, "7 7\n")
            self.assertEqual(scratch.sync(), 0)


if __name__ == "__main__":
    unittest.main()
