"""The Python package against the library and the command-line tool.

Run by scripts/run-python-tests.sh, which installs the package into a fresh
virtual environment first. TYPERECOVERY_LIBRARY names the library to test,
TYPERECOVERY_CLI the tool whose results the package must match.
"""
import hashlib
import json
import os
import pathlib
import subprocess

import pytest

import typerecovery

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "samples" / "sample.img"
CLI = os.environ.get("TYPERECOVERY_CLI")


def tool_scan(path):
    out = subprocess.run([CLI, "scan", str(path), "--quiet"], check=True, capture_output=True,
                         text=True).stdout
    return [json.loads(line) for line in out.splitlines() if line.strip()]


def as_rows(found):
    return [(f.offset, f.size, f.extension, f.complete) for f in found]


def test_types_lists_every_code_with_its_family_and_group():
    listed = typerecovery.types()
    assert len(listed) == 142
    by_code = {t.code: t for t in listed}
    assert by_code[513].extensions == ["jpg", "jpe", "jpeg"] and by_code[513].group == "photos"
    # A further code of a family carries the family's extensions.
    members = [t for t in listed if t.family != t.code]
    assert members and all(by_code[t.family].extensions == t.extensions for t in members)
    assert all(t.group in typerecovery.GROUPS for t in listed)


def test_check_answers_true_false_or_unknown():
    jpeg = (ROOT / "tests" / "data" / "image" / "jpeg_baseline.jpg").read_bytes()
    assert typerecovery.check(jpeg[:4096], "jpg") is True
    assert typerecovery.check(b"\0" * 4096, ".jpg") is False
    assert typerecovery.check(jpeg[:4096], "no-such-type") is None


@pytest.mark.skipif(not CLI, reason="TYPERECOVERY_CLI not set")
def test_scan_finds_what_the_tool_finds():
    found = list(typerecovery.scan(SAMPLE))
    expected = tool_scan(SAMPLE)
    assert len(found) == len(expected) > 0
    key = lambda r: r[0]
    assert sorted(as_rows(found), key=key) == sorted(
        ((r["offset"], r["size"], r["extension"], r["complete"]) for r in expected), key=key)
    codes = {r["offset"]: r["type_code"] for r in expected}
    assert all(f.type_code == codes[f.offset] for f in found)
    pictures = [f for f in found if f.picture]
    assert pictures and all(p.picture.width > 0 for p in pictures)


def test_stopped_scan_resumes_to_the_same_records(tmp_path):
    whole = list(typerecovery.scan(SAMPLE))
    state = tmp_path / "run.state"
    first = []
    for found in typerecovery.scan(SAMPLE, state=str(state)):
        first.append(found)
        if len(first) == 2:
            break
    assert state.exists()
    # A progress callback that raises stops the run too; the state follows.
    calls = []

    def stop_once(done, total):
        calls.append(done)
        if len(calls) == 1:
            raise KeyboardInterrupt

    second = []
    with pytest.raises(KeyboardInterrupt):
        for found in typerecovery.scan(SAMPLE, state=str(state), progress=stop_once):
            second.append(found)
    rest = list(typerecovery.scan(SAMPLE, state=str(state)))
    assert not state.exists()
    assert as_rows(first + second + rest) == as_rows(whole)


def test_a_state_of_another_run_is_refused(tmp_path):
    state = tmp_path / "run.state"
    for _ in typerecovery.scan(SAMPLE, state=str(state)):
        break
    with pytest.raises(typerecovery.StateError):
        list(typerecovery.scan(SAMPLE, types=["pdf"], state=str(state)))
    state.write_bytes(b"typerecovery-python-state 1\n{not json\n")
    with pytest.raises(typerecovery.StateError):
        list(typerecovery.scan(SAMPLE, state=str(state)))


def test_types_and_sizes_are_checked():
    with pytest.raises(ValueError):
        typerecovery.scan(SAMPLE, types=["no-such-type"])
    with pytest.raises(ValueError):
        typerecovery.scan(SAMPLE, types=["jpg"], max_sizes={"jpg": 0})
    only_jpeg = list(typerecovery.scan(SAMPLE, types="jpg"))
    assert only_jpeg and all(f.extension == "jpg" for f in only_jpeg)
    cut = list(typerecovery.scan(SAMPLE, types="jpg", max_sizes={"jpg": 1024}))
    assert all(f.size <= 1024 for f in cut)


def tree_hashes(root):
    return {str(p.relative_to(root)): hashlib.sha256(p.read_bytes()).hexdigest()
            for p in pathlib.Path(root).rglob("*") if p.is_file()}


def test_carve_answers_what_it_wrote_and_it_matches_the_source_and_the_scan(tmp_path):
    out = tmp_path / "out"
    carved = typerecovery.carve(SAMPLE, str(out))
    written = tree_hashes(out)
    assert sorted(c.path for c in carved) == sorted(written)
    image = SAMPLE.read_bytes()
    for c in carved:
        data = (out / c.path).read_bytes()
        assert len(data) == c.size and data[:c.lead_in] == bytes(c.lead_in)
        assert data[c.lead_in:] == image[c.offset:c.offset + c.size - c.lead_in]
    found = list(typerecovery.scan(SAMPLE))
    assert sorted((c.offset, c.size, c.extension, c.complete) for c in carved) == sorted(
        (f.offset, f.size, f.extension, f.complete) for f in found)
    photo = next(c for c in carved if c.extension == "jpg")
    assert photo.picture and photo.picture.make == "Examplecam"
