#!/usr/bin/env python3
"""Puts faults into the code one at a time and checks that a test notices each.

Each fault is a small edit of one source file and the tests that must fail with it: a GoogleTest
filter, an end-to-end test name, or both. The edit is made in a copy of the tree, built in its own
build directory, and undone before the next; the working tree is never touched.

usage: tools/plant_faults.py [--only NAME] [--keep DIR]
Prints one line per fault ("caught" or "MISSED") and exits 1 when any fault went unnoticed.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The start of fetch_piece, which pass_piece repeats on the counters alone: a fault in the
# former only.
FETCH = 'bool fetch_piece(Channel& channel, RecordAccess access) {\n  Framing& f = channel.framing;\n'

# name, file, text to replace, replacement, gtest filter, end-to-end test names
FAULTS = [
    ('end_record skips only one further piece', 'src/records/binary_records.cc',
     '  while (f.continued)\n    if (fetch_or_fail', '  if (f.continued)\n    if (fetch_or_fail',
     'BeginRecord.ReadsAcrossEveryEdgeOfTheReadAhead', []),
    ('a step head cut between pieces is 24', 'src/inputs/result_file.cc',
     'records::end_record(result, true) == ReadStatus::kEndOfFile',
     'records::end_record(result, false) == ReadStatus::kEndOfFile',
     'ReadStepBlock.AStepHeadCutBetweenItsPiecesIsTheEnd', []),
    ('a last line of one byte is lost', 'src/records/text_lines.cc',
     'if (held == 0) return false;', 'if (held <= 1) return false;',
     None, ['test_console_answer_edges']),
    ('a repeat form without a count', 'src/records/console.cc',
     'if (star > 0 && star < value.size()', 'if (star < value.size()',
     'ReadFreeInteger.*', []),
    ('a CR ends the answer value', 'src/records/console.cc',
     "c == ',' || c == '/';", "c == ',' || c == '/' || c == '\\r';",
     'ReadFreeInteger.*', ['test_console_answer_edges']),
    ('death by SIGPIPE', 'src/platform/posix.cc',
     '  ::signal(SIGPIPE, SIG_IGN);', '',
     None, ['test_console_output_to_a_pipe_without_reader']),
    ('PTIME.CSV on the unit of QTIME.csv', 'src/series/extraction.cc',
     'write_series_file(named("PTIME.CSV"), 11,', 'write_series_file(named("PTIME.CSV"), 12,',
     None, ['test_each_series_file_has_its_unit_and_only_listed_series_are_written']),
    ('an empty Q list writes its file', 'src/series/extraction.cc',
     'if (counts.q > 0)', 'if (counts.q >= 0)',
     None, ['test_each_series_file_has_its_unit_and_only_listed_series_are_written']),
    ('stray bytes from a later read are a read error', 'src/records/binary_records.cc',
     FETCH + '  if (f.filled - f.consumed < 4) {\n    if (refill(channel) == 0 || f.filled - f.consumed < 4) return false;',
     FETCH + '  if (f.filled - f.consumed < 4) {\n    if (refill(channel) == 0) return false;',
     'BeginRecord.ReadsAcrossEveryEdgeOfTheReadAhead', []),
    ('a marker in the last bytes of the read-ahead', 'src/records/binary_records.cc',
     FETCH + '  if (f.filled - f.consumed < 4) {', FETCH + '  if (f.filled - f.consumed < 2) {',
     'BeginRecord.*', []),
    ('stack table rows end without CR', 'src/records/failure.cc',
     'out += frame_row(failure.frame(i)) + "\\r\\n";', 'out += frame_row(failure.frame(i)) + "\\n";',
     None, ['test_every_failure_of_the_catalogue']),
    ('stack table address in lower case', 'src/records/failure.cc',
     '"%08lX"', '"%08lx"', 'StackTable.*', ['test_every_failure_of_the_catalogue']),
    ('interrupt row one column short', 'src/records/interrupt.cc',
     '  w.put("  Unknown");', '  w.put(" Unknown");', 'InterruptReport.*', ['test_interrupts']),
    ('a link table read one entry short', 'src/inputs/result_file.cc',
     'for (std::int32_t j = 0; j < header.links(); ++j) {',
     'for (std::int32_t j = 0; j + 1 < header.links(); ++j) {',
     'ReadResultHeader.HandlesCountsOfEveryKind', []),
    ('-2147483648 refused', 'src/records/number_text.cc',
     'magnitude > 2147483648ULL', 'magnitude > 2147483647ULL',
     None, ['test_console_answer_edges']),
    ('chunks of the ring written out of order', 'src/series/chunk_ring.cc',
     'const std::size_t first = chunk * rows_per_chunk_;',
     'const std::size_t first = (chunk ^ 1) * rows_per_chunk_;',
     'WriteSeriesFile.TwoThreadsWriteTheBytesOfOne', ['test_speed_ways_at_their_real_thresholds']),
    ('an input FIFO opened for writing too', 'src/platform/posix.cc',
     '!fifo ? O_RDWR :', 'true ? O_RDWR :',
     None, ['test_inputs_through_fifos_end_when_their_writers_close']),
    ('console output cut to its own bytes', 'src/records/channel.cc',
     'channel.cut_at_first_write && channel.regular_file', 'channel.regular_file',
     None, ['test_console_output_into_a_log_keeps_the_surrounding_text']),
    # The speed ways, caught where they meet their real thresholds.
    ('the tail decoder passed without checking where the reader stands', 'src/series/tail_steps.cc',
     'if (s == checked_ && s < end_ && records::next_record_offset(result) == offset &&',
     'if (s == checked_ && s < end_ && (offset != 0 || true) &&',
     None, ['test_speed_ways_at_their_real_thresholds']),
    ('the page filler never woken at the end', 'src/series/page_filler.cc',
     '  progress_.store(kDone);\n  progress_.notify_one();', '  progress_.store(kDone);',
     None, ['test_speed_ways_at_their_real_thresholds']),
    ('the mapped source never says the file was cut', 'src/platform/mapped_source.cc',
     '    if (found_cut_) return true;', '    return false;',
     'ReadScattered.AFileCutWhileMappedIsAReadFailure:BeginRecord.AFileCutUnderTheWindowIsAReadFailure',
     []),
]


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--only', help='run the faults whose name holds this text')
    ap.add_argument('--keep', help='build in this directory and keep it')
    args = ap.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix='fs_faults_')
    tree = os.path.join(work, 'tree')
    build = os.path.join(work, 'build')
    if os.path.exists(tree):
        shutil.rmtree(tree)
    shutil.copytree(ROOT, tree, ignore=shutil.ignore_patterns('.git', 'build*'))
    if run(['cmake', '-S', tree, '-B', build, '-DCMAKE_BUILD_TYPE=Release',
            '-DFLOWSERIES_BENCH=OFF']).returncode != 0:
        sys.exit('configure failed')
    missed = 0
    for name, path, old, new, gtest, e2e in FAULTS:
        if args.only and args.only not in name:
            continue
        source = os.path.join(tree, path)
        with open(source) as f:
            original = f.read()
        if original.count(old) != 1:
            print('%-50s CANNOT PLANT (text not found once)' % name)
            missed += 1
            continue
        with open(source, 'w') as f:
            f.write(original.replace(old, new))
        try:
            built = run(['cmake', '--build', build, '-j2', '--target', 'flowseries', 'flowseries_tests',
                         'flowseries-gen'])
            if built.returncode != 0:
                print('%-50s caught (does not build)' % name)
                continue
            failed = []
            if gtest:
                r = run([os.path.join(build, 'flowseries_tests'), '--gtest_filter=' + gtest])
                if r.returncode != 0:
                    failed.append('unit')
            if e2e:
                cmd = [sys.executable, os.path.join(tree, 'tests', 'end_to_end.py'),
                       '--binary', os.path.join(build, 'flowseries'),
                       '--generator', os.path.join(build, 'flowseries-gen')]
                for t in e2e:
                    cmd += ['-k', t]
                r = run(cmd, timeout=600)
                if r.returncode != 0:
                    failed.append('end to end')
            if failed:
                print('%-50s caught (%s)' % (name, ', '.join(failed)))
            else:
                print('%-50s MISSED' % name)
                missed += 1
        finally:
            with open(source, 'w') as f:
                f.write(original)
    if not args.keep:
        shutil.rmtree(work)
    sys.exit(1 if missed else 0)


if __name__ == '__main__':
    main()
