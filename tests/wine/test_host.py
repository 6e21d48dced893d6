"""The stand-in host zanvor.exe against the fake link library (fake.fll):
the load protocol, parameter and result passing through real movable
blocks, raised errors, nested calls, the main window's message pumping, the
command language and its output format."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402


class HostTestCase(wd.MachineTestCase):
    MACHINE = "host"
    LIBRARY = wd.FAKE_FLL

    def run_lines(self, host, *lines):
        """Sends lines, waits until they ran, returns (new stdout lines, new
        error tuples)."""
        out_before = len(host.output())
        err_before = len(host.errors())
        host.send(*lines)
        end = host.sync()
        return host.output()[out_before:end - 1], host.errors()[err_before:]


class LoadProtocolTest(HostTestCase):
    def test_code_14_comes_before_code_0_and_the_load_function_runs_last(self):
        host = self.start()
        self.assertEqual(host.ask("EVENTS()"), "14,0,init,window-ok")
        self.assertEqual(host.errors(), [])

    def test_release_runs_the_unload_function_and_forgets_the_functions(self):
        host = self.start()
        out, errors = self.run_lines(host, "RELEASE LIBRARY", '? ECHO("x")')
        self.assertEqual(out, ["fake exit"])
        self.assertEqual(errors, [(None, "Unknown function: ECHO")])

    def test_end_of_input_unloads_and_exits_with_0(self):
        host = self.start()
        host.send('? "last"')
        self.assertEqual(host.close(), 0)
        self.assertEqual(host.output()[-2:], ["last", "fake exit"])

    def test_quit_stops_reading_and_unloads(self):
        host = self.start()
        host.send("QUIT", '? "not run"')
        self.assertEqual(host.close(), 0)
        self.assertNotIn("not run", host.output())
        self.assertEqual(host.output()[-1], "fake exit")

    def test_setting_a_new_library_unloads_the_old_one_first(self):
        host = self.start()
        out, errors = self.run_lines(host, "SET LIBRARY TO " + wd.windows_path(wd.FAKE_FLL),
                                     "? EVENTS()")
        self.assertEqual(errors, [])
        # The event log starts afresh, so the old module was really freed.
        self.assertEqual(out, ["fake exit", "14,0,init,window-ok"])

    def test_load_and_unload_functions_are_not_callable_by_name(self):
        host = self.start()
        _, errors = self.run_lines(host, "=FAKE_INIT()", "=fake_exit()")
        self.assertEqual(errors, [(None, "Unknown function: FAKE_INIT"),
                                  (None, "Unknown function: fake_exit")])

    def test_loading_failures_are_reported(self):
        host = self.start(library=None)
        _, errors = self.run_lines(host, r"SET LIBRARY TO C:\no\such.fll",
                                   "SET LIBRARY TO kernel32.dll", '? "alive"')
        self.assertEqual(len(errors), 2)
        self.assertRegex(errors[0][1], r"^Cannot load library C:\\no\\such\.fll: error \d+\.$")
        self.assertEqual(errors[1][1],
                         "kernel32.dll is not a link library: it exports no @DispatchAPI@4.")
        self.assertIn("alive", host.output())

    def test_function_table_listing(self):
        host = self.start()
        out, _ = self.run_lines(host, "LIST FUNCTIONS")
        self.assertIn('FUNCTION {"name": "FAKE_INIT", "parameters": -2, "types": ""}', out)
        self.assertIn('FUNCTION {"name": "JOIN", "parameters": 2, "types": "CC"}', out)
        code, table, _ = self.machine.run_host(["--table", wd.windows_path(wd.FAKE_FLL)])
        self.assertEqual(code, 0)
        self.assertEqual(table, [line for line in out if line.startswith("FUNCTION")])


class ValuePassingTest(HostTestCase):
    def test_results_carry_every_byte_unchanged(self):
        host = self.start()
        high = "".join(chr(b) for b in range(0x80, 0x100))
        out, errors = self.run_lines(
            host,
            '? ECHO("%s")' % high[:120],
            '? ECHO("%s")' % high[120:],
            '? ECHO("a" + CHR(0) + "b") + "|"',
            '? "[" + ECHO("") + "]"',
            "? JOIN('say \"hi\"', [it's])")
        self.assertEqual(errors, [])
        self.assertEqual(out, [high[:120], high[120:], "a\0b|", "[]", "say \"hi\"|it's"])

    def test_parameters_are_movable_blocks_the_library_can_grow(self):
        host = self.start()
        out, errors = self.run_lines(host, '? BLOCKINFO("abc")', '? BLOCKINFO("")')
        self.assertEqual(errors, [])
        # Data size is the text plus the terminating NUL the library added;
        # the header word is the host's own 0.
        self.assertEqual(out, ["type=C size=4 header=0 nul=1", "type=C size=1 header=0 nul=1"])

    def test_parameter_and_result_blocks_are_freed_after_each_call(self):
        host = self.start()
        self.run_lines(host, '? JOIN("a", "b")', '=ECHO("c")', '=RAISE("d")',
                       '? RUN([? ECHO("e")])')
        # Seen from inside a call without parameters: no block is live and
        # the next free index is back at 1.
        self.assertEqual(host.ask("HANDLES()"), "0/1024 next 1 slots 1/1024")

    def test_a_function_without_a_result_gives_true(self):
        host = self.start()
        self.assertEqual(host.ask("NORESULT()"), ".T.")


class HostErrorTest(HostTestCase):
    def test_text_and_numbered_errors_are_reported_and_the_script_goes_on(self):
        host = self.start()
        out, errors = self.run_lines(host, '=RAISE("boom")', "? RAISE182()", '? "still here"')
        self.assertEqual(out, ["still here"])
        self.assertEqual(errors, [
            (None, "boom"),
            (182, "Not enough memory to terminate a character parameter."),
        ])

    def test_error_texts_are_escaped_so_they_read_back_exactly(self):
        host = self.start()
        text = 'line1' + "\n" + 'say "x" \\ tab\t' + "\xe9\x01"
        _, errors = self.run_lines(
            host, '=RAISE("line1" + CHR(10) + [say "x" \\ tab] + CHR(9) + CHR(233) + CHR(1))')
        self.assertEqual(errors, [(None, text)])
        self.assertIn(r'Error: "line1\nsay \"x\" \\ tab\t\u00e9\u0001"', host.error_lines())

    def test_an_error_ends_the_whole_command(self):
        host = self.start()
        out, errors = self.run_lines(host, '? ECHO(RAISE("inner")), "never"')
        self.assertEqual(out, [])
        self.assertEqual(errors, [(None, "inner")])

    def test_wrong_argument_counts_and_types(self):
        host = self.start()
        _, errors = self.run_lines(host, "? ECHO()", '? ECHO("a", "b")', "? ECHO(1)",
                                   '? JOIN("a")')
        self.assertEqual([text for _, text in errors], [
            "Missing arguments: ECHO takes 1, got 0.",
            "Too many arguments: ECHO takes 1, got 2.",
            "Argument 1 of ECHO must be a character string.",
            "Missing arguments: JOIN takes 2, got 1.",
        ])


class NestingTest(HostTestCase):
    def test_a_command_run_for_the_library_may_call_the_library_again(self):
        host = self.start()
        out, errors = self.run_lines(host, '? RUN([? ECHO("inner")])')
        self.assertEqual(errors, [])
        self.assertEqual(out, ["inner", "after"])

    def test_an_error_in_a_nested_call_ends_only_the_nested_command(self):
        host = self.start()
        out, errors = self.run_lines(host, '? RUN([=RAISE("inner fail")])')
        self.assertEqual(errors, [(None, "inner fail")])
        self.assertEqual(out, ["after"])

    def test_calls_nest_to_any_depth_and_their_results_combine(self):
        host = self.start()
        out, errors = self.run_lines(
            host, """? RUN('? RUN("? ECHO([deep])")') + ECHO("x")""",
            """=RAISE(RUN([? "nested ok"]))""")
        self.assertEqual(out, ["deep", "after", "afterx", "nested ok"])
        self.assertEqual(errors, [(None, "after")])

    def test_commands_from_the_library_print_message_boxes(self):
        host = self.start()
        self.run_lines(host, """=RUN("MessageBox('Unable to open mailslot. Error: 5','Zanvor error', 16)")""")
        self.assertEqual(host.boxes(), [
            {"text": "Unable to open mailslot. Error: 5", "title": "Zanvor error", "flags": 16}])

    def test_the_library_cannot_be_released_from_inside_its_own_call(self):
        host = self.start()
        out, errors = self.run_lines(host, "? RUN([RELEASE LIBRARY])", '? ECHO("still")')
        self.assertEqual(errors, [
            (None, "Cannot release the library while one of its functions runs.")])
        self.assertEqual(out, ["after", "still"])


class MessagePumpTest(HostTestCase):
    def test_broadcast_posts_reach_the_main_window_while_the_host_waits_for_input(self):
        host = self.start()
        host.send('=PING("idle")')
        host.wait_for_line("pong idle 42", timeout=20)

    def test_thread_timers_fire_while_idle(self):
        host = self.start()
        host.send('=TIMER("idle")')
        host.wait_for_line("tick idle", timeout=20)

    def test_doevents_runs_timers_inside_the_command(self):
        host = self.start()
        out, _ = self.run_lines(host, '=TIMER("in")', "DOEVENTS 1000", '? "after doevents"')
        self.assertEqual(out, ["tick in", "after doevents"])

    def test_without_doevents_the_next_line_runs_before_the_timer(self):
        host = self.start()
        out, _ = self.run_lines(host, '=TIMER("later")', '? "first"')
        self.assertEqual(out[0], "first")
        host.wait_for_line("tick later", timeout=20)

    def test_a_window_procedure_left_behind_is_reported_and_removed(self):
        host = self.start()
        host.send('=PING("x")', "DOEVENTS 200", "=FORGETPROC()", "RELEASE LIBRARY")
        host.sync()
        self.assertIn("The library left its window procedure on the main window.",
                      host.error_texts())
        # The window still works after the module is gone.
        out, errors = self.run_lines(host, "DOEVENTS 200", '? "alive"')
        self.assertEqual(out, ["alive"])
        self.assertEqual(errors, [])

    def test_kill_abandons_the_mutex_the_process_owned(self):
        survivor = self.start()
        victim = self.start()
        self.assertEqual(victim.ask('MUTEX("HarnessKill")'), "owned")
        self.assertEqual(survivor.ask('MUTEX("HarnessKill")'), "busy")
        victim.kill()
        self.assertIsNotNone(victim.process.poll())
        self.assertEqual(survivor.ask('MUTEX("HarnessKill")'), "abandoned")


class LanguageTest(HostTestCase):
    def test_literals_concatenation_and_chr(self):
        host = self.start(library=None)
        literal_255 = "x" * 255
        out, errors = self.run_lines(
            host,
            """? "dq 'single' [b]" + 'sq "double"' + [br "d" 's']""",
            "? CHR(65) + CHR(255) + CHR(0) + 'z'",
            '? "%s"' % literal_255,
            "? 1 + 2, -3, 1.5, .T., .F.",
            "? LEN(REPLICATE('ab', 300))",
            "* a comment line",
            '? "kept" && a trailing comment',
            "",
            "NOTE another comment")
        self.assertEqual(errors, [])
        self.assertEqual(out, [
            """dq 'single' [b]sq "double"br "d" 's'""",
            "A\xff\0z",
            literal_255,
            "3 -3 1.5 .T. .F.",
            "600",
            "kept",
        ])

    def test_syntax_errors_are_reported_and_the_script_goes_on(self):
        host = self.start(library=None)
        out, errors = self.run_lines(
            host,
            '? "open', "? 'open", "? [open",
            '? "%s"' % ("y" * 256),
            "? nosuch", "? nosuch()", "FROB 1", '? "a" + 1', "? CHR(256)", "? (1",
            '? "survived"')
        self.assertEqual(out, ["survived"])
        self.assertEqual([text for _, text in errors], [
            'Missing closing " of a string literal.',
            "Missing closing ' of a string literal.",
            "Missing closing ] of a string literal.",
            "String literal longer than 255 bytes.",
            "Unknown name: nosuch",
            "Unknown function: nosuch",
            "Unrecognized command verb: FROB",
            "Operator/operand type mismatch.",
            "CHR argument out of range.",
            "Unexpected end of the command.",
        ])

    def test_names_and_keywords_ignore_letter_case(self):
        host = self.start(library=None)
        out, errors = self.run_lines(
            host,
            "set libr to " + wd.windows_path(wd.FAKE_FLL),
            '? echo("lower") + Echo("Mixed")',
            "rele libr",
            "? chr(66)")
        self.assertEqual(errors, [])
        self.assertEqual(out, ["lowerMixed", "fake exit", "B"])

    def test_do_lines_record_the_evaluated_arguments(self):
        host = self.start()
        self.run_lines(host, 'DO OnEvt WITH "hello"',
                       'DO Handler WITH "a" + "b", 42, 1.25, ECHO(CHR(200)), .F.',
                       "do util.prg", "DO NoArgs")
        self.assertEqual(host.calls("onevt"), [["hello"]])
        self.assertEqual(host.calls("Handler"), [["ab", 42, 1.25, "\xc8", False]])
        self.assertEqual(host.calls("util.prg"), [[]])
        self.assertIn("DO NoArgs([])", host.output())
        self.assertIn('DO Handler(["ab", 42, 1.25, "\\u00c8", false])', host.output())

    def test_qpc_counts_microseconds_as_a_string_of_digits(self):
        host = self.start(library=None)
        outer_start = time.monotonic()
        first = host.ask("QPC()")
        inner_start = time.monotonic()
        time.sleep(0.5)
        inner_end = time.monotonic()
        second = host.ask("QPC()")
        outer_end = time.monotonic()
        self.assertRegex(first, r"^[0-9]+$")
        self.assertRegex(second, r"^[0-9]+$")
        # A character value: it concatenates with a string.
        self.assertRegex(host.ask("QPC() + 'x'"), r"^[0-9]+x$")
        # The host read the counter inside each of the two asks, so the
        # difference lies between the pause alone and the whole span; wrong
        # units (counter ticks, milliseconds) fall far outside.
        elapsed_us = int(second) - int(first)
        self.assertGreater(elapsed_us, (inner_end - inner_start) * 1e6 * 0.99 - 1000)
        self.assertLess(elapsed_us, (outer_end - outer_start) * 1e6 * 1.01 + 1000)
        _, errors = self.run_lines(host, "? QPC(1)")
        self.assertEqual(errors, [(None, "QPC takes no arguments.")])

    def test_message_boxes_are_printed_and_answer_1(self):
        host = self.start(library=None)
        out, errors = self.run_lines(
            host,
            "MessageBox('text', 'title', 16)",
            "? MESSAGEBOX([only text])",
            "=messagebox('flags first', 48, 'then title')")
        self.assertEqual(errors, [])
        self.assertEqual(host.boxes(), [
            {"text": "text", "title": "title", "flags": 16},
            {"text": "only text", "title": "", "flags": 0},
            {"text": "flags first", "title": "then title", "flags": 48},
        ])
        self.assertEqual(out[2], "1")

    def test_a_script_file_runs_to_its_end(self):
        with tempfile.TemporaryDirectory() as directory:
            script = os.path.join(directory, "script.prg")
            with open(script, "wb") as f:
                f.write(b"SET LIBRARY TO " + wd.windows_path(wd.FAKE_FLL).encode() + b"\r\n"
                        b"? ECHO('from file')\r\n"
                        b"=RAISE('file error')\r\n"
                        b"? 'no final newline'")
            code, out, err = self.machine.run_host([wd.windows_path(script)])
        self.assertEqual(code, 0)
        self.assertEqual(out, ["from file", "no final newline", "fake exit"])
        self.assertEqual(err, ['Error: "file error"'])

    def test_command_line_options(self):
        code, out, _ = self.machine.run_host(["--help"])
        self.assertEqual(code, 0)
        self.assertTrue(out[0].startswith("Usage: zanvor run"))
        # The invocation from before the tool had verbs still runs the host.
        code, table, _ = self.machine.run_tool(["--table", wd.windows_path(wd.FAKE_FLL)])
        self.assertEqual(code, 0)
        self.assertTrue(table[0].startswith("FUNCTION "), table)
        code, _, err = self.machine.run_host(["--bogus"])
        self.assertEqual(code, 2)
        self.assertIn("unknown option --bogus", err[0])
        code, _, err = self.machine.run_host(["--network", "wan", "-"])
        self.assertEqual(code, 2)
        self.assertIn('unknown mode "wan"', err[0])

    def test_without_the_emulation_beside_it_the_host_runs_and_refuses_a_network_mode(self):
        # As in the release: zanvor.exe alone, its test apparatus
        # (zanvor_netemu.dll) not beside it.
        with tempfile.TemporaryDirectory() as alone:
            exe = Path(alone) / "zanvor.exe"
            shutil.copyfile(wd.HOST_EXE, exe)

            def run(*args):
                result = subprocess.run(
                    self.machine.prefix.inside(["wine", str(exe), "run"] + list(args)),
                    env=self.machine.prefix.env(), input=b"? \"alone\"\n", capture_output=True,
                    timeout=wd.scaled(wd.DEFAULT_TIMEOUT))
                return (result.returncode, result.stdout.decode("latin-1").splitlines(),
                        result.stderr.decode("latin-1").splitlines())

            self.assertEqual(run("--network", "off", "-"), (0, ["alone"], []))
            code, out, err = run("--network", "local", "-")
            self.assertEqual((code, out), (1, []))
            self.assertRegex(err[0], r"^zanvor: network emulation: cannot load .*"
                                     r"zanvor_netemu\.dll: error \d+ ")


if __name__ == "__main__":
    unittest.main(verbosity=2)
