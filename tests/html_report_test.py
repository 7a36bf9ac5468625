#!/usr/bin/env python3
"""noxel-als-sim --html as a reader gets it: the page read by a strict XML parser, what
it plots, what it says in words, and untrusted text kept as text in a page that fetches
nothing.

Usage: html_report_test.py SIMULATOR EXAMPLES_DIR [TEST_CLASS...]"""
import json
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

SIMULATOR, EXAMPLES = sys.argv[1], sys.argv[2]
# Elements that run or load something, and markup that untrusted text could smuggle in.
UNWANTED = {"script", "link", "img", "image", "iframe", "object", "embed", "b", "i", "u"}


def example(name):
    with open(os.path.join(EXAMPLES, name)) as file:
        return json.load(file)


def curve(pairs):
    """ALR_CURVE's 40 bytes: little-endian lux and value words, the rest erased."""
    data = b"".join(word.to_bytes(2, "little") for pair in pairs for word in pair)
    return (data + b"\xff" * 40)[:40]


class Page:
    def __init__(self, path):
        self.root = ElementTree.parse(path).getroot()  # raises on a page that is not well-formed
        self.text = "".join(self.root.itertext())

    def of_class(self, name):
        return [e for e in self.root.iter() if name in e.get("class", "").split()]

    def points(self):
        return [(int(c.get("data-lux")), int(c.get("data-value")), float(c.get("cx")), float(c.get("cy")))
                for c in self.of_class("pair")]


def simulate(*arguments, machine=None, efivars=None):
    """Runs the simulator with --html; `efivars` names an empty efivars directory."""
    with tempfile.TemporaryDirectory() as directory:
        if machine is not None:
            path = os.path.join(directory, "machine.json")
            with open(path, "w") as file:
                json.dump(machine, file)
            arguments = (path,) + arguments
        if efivars is not None:
            os.mkdir(os.path.join(directory, efivars))
            arguments += ("--efivars", os.path.join(directory, efivars))
        html = os.path.join(directory, "report.html")
        # Bounded, so that a simulator that hangs ends even when the test is killed first.
        run = subprocess.run(["timeout", "-k", "5", "60", SIMULATOR, *arguments, "--html", html],
                             capture_output=True)
        if run.returncode not in (0, 1):
            raise AssertionError(run.stderr.decode(errors="replace"))
        return Page(html)


class Curve(unittest.TestCase):
    def test_pairs_up_to_the_terminator_keep_their_order_on_a_logarithmic_lux_axis(self):
        pairs = [(100, 5), (0, 0), (10, 50), (1, 20), (1000, 40)]
        machine = example("typical.json")
        machine["firmware"]["ALR_CURVE"] = curve(pairs + [(0xFFFF, 0xFFFF), (7, 8)]).hex(" ")
        points = simulate(machine=machine).points()
        self.assertEqual([p[:2] for p in points], pairs)
        by_lux = sorted(points)
        self.assertTrue(all(a[2] < b[2] for a, b in zip(by_lux, by_lux[1:])), by_lux)
        by_value = sorted(points, key=lambda p: p[1])
        self.assertTrue(all(a[3] > b[3] for a, b in zip(by_value, by_value[1:])), by_value)
        x = {p[0]: p[2] for p in points}
        self.assertAlmostEqual(x[10] - x[1], x[100] - x[10], delta=0.2)
        self.assertAlmostEqual(x[1000] - x[100], x[100] - x[10], delta=0.2)
        self.assertGreater(x[1] - x[0], 20)  # zero starts the axis, visibly apart from the decades


class CurveInWords(unittest.TestCase):
    def test_no_curve_is_said_and_nothing_is_plotted(self):
        empty = example("typical.json")
        empty["firmware"]["ALR_CURVE"] = "ff " * 40
        for machine, words in [(empty, "The curve is empty"),
                               (example("alr-curve-missing.json"), "ALR_CURVE is absent from the firmware"),
                               (example("empty-firmware.json"), "the service never read ALR_CURVE")]:
            page = simulate(machine=machine)
            self.assertIn(words, page.text)
            self.assertEqual(page.of_class("curve") + page.of_class("pair"), [])


class Timeline(unittest.TestCase):
    def test_every_attempt_and_state_is_marked(self):
        page = simulate(os.path.join(EXAMPLES, "empty-firmware.json"))
        marks = [int(mark.get("data-attempt")) for mark in page.root.iter("circle")]
        self.assertEqual(marks, list(range(1, 31)))
        self.assertIn("attempt 30: CALIBRATE absent from the firmware (error 203)", page.text)
        states = [state.text for state in page.of_class("state")]
        self.assertEqual(states, ["START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"])


class UntrustedText(unittest.TestCase):
    def test_untrusted_text_stays_text_and_pages_fetch_nothing(self):
        hostile = "<script>alert(1)</script> \"&<>'"
        machine = example("typical.json")
        machine["description"] = hostile
        machine["firmware"]["<i>x</i>"] = "00"
        machine["devices"].append({"hardwareIds": ["<b>id</b>&\"'"]})
        machine["devices"].append({"hardwareIdBytes": "41 00 00 d8 01 00 42 00"})  # a lone surrogate, U+0001
        machine["registryKeys"].append("SYSTEM\\CurrentControlSet\\Enum\\ACPI\\NOXL6120\\<u>\\Device Parameters")
        for page, texts in [
                (simulate(machine=machine), [hostile, "<i>x</i>", "<b>id</b>&\"'", "A\ufffd\ufffdB",
                                             "NOXL6120\\<u>\\Device Parameters"]),
                (simulate(efivars="ev<&'\">"), ["efivars directory ", "ev<&'\">"])]:
            self.assertEqual([e.tag for e in page.root.iter() if e.tag in UNWANTED], [])
            for text in texts:
                self.assertIn(text, page.text)
            for element in page.root.iter():
                for attribute in element.attrib:
                    self.assertNotIn(attribute.split("}")[-1], {"src", "href", "srcset", "action"})
            for style in page.root.iter("style"):
                self.assertNotIn("url(", style.text)
                self.assertNotIn("@import", style.text)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
