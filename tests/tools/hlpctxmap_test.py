"""The context-number map written into a help file from halibut."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import hlpctxmap  # noqa: E402

SOURCE = r"""
\title Test

\C{first} First

\cfg{winhelp-topic}{first}

One.

\C{second} Second

\cfg{winhelp-topic}{second_topic.2}

Two.
"""


@unittest.skipIf(shutil.which("halibut") is None, "halibut is not installed")
class ContextMap(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        source = os.path.join(self.folder, "t.but")
        with open(source, "w") as text:
            text.write(SOURCE)
        subprocess.run(["halibut", "--winhelp=t.hlp", source], cwd=self.folder, check=True)
        with open(os.path.join(self.folder, "t.hlp"), "rb") as hlp:
            self.data = hlp.read()

    def tearDown(self):
        shutil.rmtree(self.folder)

    def test_numbers_lead_to_the_named_topics_and_the_rest_stays(self):
        self.assertEqual(hlpctxmap.read_map(self.data), {}, "halibut leaves it empty")
        offsets = hlpctxmap.topic_offsets(self.data)
        written = hlpctxmap.write_map(self.data, {12: "second_topic.2", 3: "first"})
        self.assertEqual(hlpctxmap.read_map(written), {
            12: offsets[hlpctxmap.topic_hash("second_topic.2")],
            3: offsets[hlpctxmap.topic_hash("first")],
        })
        self.assertNotEqual(offsets[hlpctxmap.topic_hash("first")],
                            offsets[hlpctxmap.topic_hash("second_topic.2")])
        before = hlpctxmap.internal_files(self.data)
        after = hlpctxmap.internal_files(written)
        for name in before:
            if name != "|CTXOMAP":
                self.assertEqual(after[name], before[name], name)

    def test_an_unknown_topic_is_refused_and_the_file_left_alone(self):
        path = os.path.join(self.folder, "t.hlp")
        self.assertEqual(hlpctxmap.main([path, "12=missing"]), 1)
        with open(path, "rb") as hlp:
            self.assertEqual(hlp.read(), self.data)
        self.assertEqual(hlpctxmap.main([path, "twelve=first"]), 1)

    def test_the_hash_is_the_help_systems(self):
        # Letters ignore case; characters outside the alphabet do not count.
        self.assertEqual(hlpctxmap.topic_hash("ab"), 17 * 43 + 18)
        self.assertEqual(hlpctxmap.topic_hash("AB"), hlpctxmap.topic_hash("a-b"))
        self.assertEqual(hlpctxmap.topic_hash("0._9"), ((10 * 43 + 12) * 43 + 13) * 43 + 9)


if __name__ == "__main__":
    unittest.main()
