#!/usr/bin/env python3
"""noxel-als-sim --html as a reader gets it: the page read by a strict XML parser, what
it plots, what it says in words, and untrusted text kept as text.

Usage: html_report_test.py SIMULATOR EXAMPLES_DIR [TEST_CLASS...]"""
import json
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

SIMULATOR, EXAMPLES = sys.argv[1], sys.argv[2]
GUID = "bf82486a-80f7-4733-b82c-066bd8f2534b"


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


def simulate(*arguments, machine=None, efivars=None, efivars_name="efivars"):
    """Runs the simulator with --html; `efivars` maps variable names to their data."""
    with tempfile.TemporaryDirectory() as directory:
        if machine is not None:
            path = os.path.join(directory, "machine.json")
            with open(path, "w") as file:
                json.dump(machine, file)
            arguments = (path,) + arguments
        if efivars is not None:
            folder = os.path.join(directory, efivars_name)
            os.mkdir(folder)
            for name, data in efivars.items():
                with open(os.path.join(folder, f"{name}-{GUID}"), "wb") as file:
                    file.write(b"\x07\x00\x00\x00" + data)
            arguments += ("--efivars", folder)
        html = os.path.join(directory, "report.html")
        run = subprocess.run([SIMULATOR, *arguments, "--html", html], capture_output=True)
        if run.returncode not in (0, 1):
            raise AssertionError(run.stderr.decode(errors="replace"))
        return Page(html)


class SelfContained(unittest.TestCase):
    def test_pages_are_well_formed_and_fetch_nothing(self):
        for arguments, says in [((), ["published", "Attempts: 1"]),
                                ((os.path.join(EXAMPLES, "empty-firmware.json"),),
                                 ["not published", "gave up after 30 attempts", "Attempts: 30"])]:
            page = simulate(*arguments)
            for part in says:
                self.assertIn(part, page.text)
            for element in page.root.iter():
                self.assertNotIn(element.tag, {"script", "link", "img", "image", "iframe", "object", "embed"})
                for attribute in element.attrib:
                    self.assertNotIn(attribute.split("}")[-1], {"src", "href", "srcset", "action"})
            for style in page.root.iter("style"):
                self.assertNotIn("url(", style.text)
                self.assertNotIn("@import", style.text)


class Curve(unittest.TestCase):
    def assert_monotonic(self, points):
        by_lux = sorted(points)
        self.assertTrue(all(a[2] < b[2] for a, b in zip(by_lux, by_lux[1:])), by_lux)
        by_value = sorted(points, key=lambda p: p[1])
        self.assertTrue(all(a[3] > b[3] for a, b in zip(by_value, by_value[1:])), by_value)

    def test_typical_curve_is_its_three_pairs_without_the_terminator(self):
        points = simulate().points()
        self.assertEqual([p[:2] for p in points], [(5, 10), (100, 150), (1000, 800)])
        self.assert_monotonic(points)

    def test_pairs_keep_their_order_lux_is_logarithmic_and_zero_starts_the_axis(self):
        pairs = [(100, 5), (0, 0), (10, 50), (1, 20), (1000, 40)]
        machine = example("typical.json")
        machine["firmware"]["ALR_CURVE"] = curve(pairs).hex(" ")
        points = simulate(machine=machine).points()
        self.assertEqual([p[:2] for p in points], pairs)
        self.assert_monotonic(points)
        x = {p[0]: p[2] for p in points}
        self.assertAlmostEqual(x[10] - x[1], x[100] - x[10], delta=0.2)
        self.assertAlmostEqual(x[1000] - x[100], x[100] - x[10], delta=0.2)
        self.assertGreater(x[1] - x[0], 20)  # apart from the decades, visibly

    def test_efivars_directory_curve(self):
        page = simulate(efivars={"CALIBRATE": bytes([0xE8, 3, 0x2C, 1]), "ALR_CURVE": curve([(3, 7), (30, 70)])})
        self.assertEqual([p[:2] for p in page.points()], [(3, 7), (30, 70)])


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
    def test_thirty_attempts_ten_seconds_apart_between_start_and_stop(self):
        page = simulate(os.path.join(EXAMPLES, "empty-firmware.json"))
        marks = [int(mark.get("data-attempt")) for mark in page.root.iter("circle")]
        self.assertEqual(marks, list(range(1, 31)))
        rows = page.of_class("moments")[0].findall("tr")[1:]
        texts = [(row[0].text, "".join(row.itertext())) for row in rows]
        attempts = [(time, text) for time, text in texts if "attempt " in text]
        self.assertEqual(len(attempts), 30)
        for number, (time, text) in enumerate(attempts, 1):
            self.assertEqual(time, f"{(number - 1) * 10}.000 s")
            self.assertIn(f"attempt {number}: CALIBRATE absent from the firmware (error 203)", text)
        states = [state.text for state in page.of_class("state")]
        self.assertEqual(states, ["START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"])
        self.assertEqual(rows[-1][0].text, "300.000 s")

    def test_publication_at_once(self):
        page = simulate()
        self.assertEqual(["".join(a.itertext()) for a in page.of_class("attempt") if a.tag == "div"],
                         ["attempt 1: published"])
        self.assertIn("ALR Table: 5,10,100,150,1000,800", [entry.text for entry in page.of_class("log")])


class UntrustedText(unittest.TestCase):
    def test_machine_and_efivars_text_stays_text(self):
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
                (simulate(efivars={}, efivars_name="ev<&'\">"), ["efivars directory ", "ev<&'\">"])]:
            self.assertEqual([e.tag for e in page.root.iter() if e.tag in {"script", "b", "i", "u"}], [])
            for text in texts:
                self.assertIn(text, page.text)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
