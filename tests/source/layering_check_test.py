#!/usr/bin/env python3
"""The layering check on small trees made for each case: it passes a tree that keeps its
table, and names the file, line and libraries of every include that breaks it."""
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "layering_check.py")

TABLE = """\
# Internals

## Libraries and who may use whom

| Library | Folder | May use |
|---|---|---|
| `vornel_base` | `base/` | the standard library only |
| `vornel_contract` | `player/contract.h` | nothing |
| `vornel_engine` | `player/engine/` | `vornel_contract` (which it implements), `vornel_base` |
| `vornel_player` | `player/` | `vornel_contract`, `vornel_base`; links the engine, includes none of it |

## Next section
"""


def run_check(files, note=TABLE):
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "docs"))
        with open(os.path.join(root, "docs", "ARCHITECTURE.md"), "w") as out:
            out.write(note)
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as out:
                out.write(textwrap.dedent(text))
        done = subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True)
        return done.returncode, done.stdout, done.stderr


KEPT = {
    "base/text.h": "#pragma once\n",
    "base/text.cpp": '#include "base/text.h"\n',
    "player/contract.h": '#pragma once\n#include <string>\n',
    "player/engine/mixer.h": '#pragma once\n#include "player/contract.h"\n',
    "player/engine/mixer.cpp": '#include "player/engine/mixer.h"\n#include "base/text.h"\n',
    "player/worker.cpp": '#include "player/contract.h"\n#include "player/worker.h"\n',
    "player/worker.h": "#pragma once\n",
}


class LayeringCheckTest(unittest.TestCase):
    def test_a_tree_that_keeps_its_table_passes(self):
        code, out, err = run_check(KEPT)
        self.assertEqual((code, out), (0, ""), err)

    def test_each_forbidden_include_is_named_by_file_line_and_libraries(self):
        cases = [
            # (file, its text, the report expected)
            ("base/text.cpp", '#include "base/text.h"\n#include "player/worker.h"\n',
             'base/text.cpp:2: includes "player/worker.h" of vornel_player, which vornel_base may not use'),
            # The closest owner decides: a header of player/engine/ belongs to the engine.
            ("player/worker.cpp", '#include "player/engine/mixer.h"\n',
             'player/worker.cpp:1: includes "player/engine/mixer.h" of vornel_engine, '
             "which vornel_player may not use"),
            # The engine may see the contract, not the rest of the folder above it.
            ("player/engine/mixer.cpp", '\n\n  #  include "player/worker.h"\n',
             'player/engine/mixer.cpp:3: includes "player/worker.h" of vornel_player, '
             "which vornel_engine may not use"),
            # Includes are written from the top of the tree; a path beside the file is none.
            ("player/worker.cpp", '#include "worker.h"\n',
             'player/worker.cpp:1: includes "worker.h", which no library of the table owns'),
            ("base/text.h", '#include "tests/helpers.h"\n',
             'base/text.h:1: includes "tests/helpers.h", which no library of the table owns'),
        ]
        for path, text, expected in cases:
            with self.subTest(path=path, text=text):
                code, out, _ = run_check({**KEPT, path: text})
                self.assertEqual(code, 1)
                self.assertEqual(out.splitlines(), [expected])

    def test_system_includes_and_commented_lines_are_not_the_tables_business(self):
        code, out, err = run_check({**KEPT, "base/text.cpp": '#include <QWidget>\n// #include "player/worker.h"\n'})
        self.assertEqual((code, out), (0, ""), err)

    def test_a_table_that_cannot_hold_is_refused(self):
        circle = TABLE.replace("| `vornel_base` | `base/` | the standard library only |",
                               "| `vornel_base` | `base/` | `vornel_player` |")
        unknown = TABLE.replace("`vornel_contract`, `vornel_base`; links", "`vornel_sound`; links")
        missing_folder = TABLE.replace("`base/`", "`basis/`")
        no_table = "# Internals\n\n## Libraries and who may use whom\n\nNo table yet.\n"
        for note, words in [(circle, "circle: vornel_base -> vornel_player -> vornel_base"),
                            (unknown, "vornel_player may use vornel_sound, which has no row of its own"),
                            (missing_folder, "vornel_base owns basis/, which does not exist"),
                            (no_table, "no table under")]:
            with self.subTest(words=words):
                code, _, err = run_check(KEPT, note)
                self.assertEqual(code, 1)
                self.assertIn(words, err)


if __name__ == "__main__":
    unittest.main()
