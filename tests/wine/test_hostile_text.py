"""Hostile text with the real library in real hosts: names and messages on a
double-byte Windows (hosts under a Japanese locale, ANSI code page 932), and
messages that hold the host's macro character "&"."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402

JAPANESE = "ja_JP.UTF-8"
TOO_LONG = "Message is too long. 300 chars is max."
# "A" and a lead byte of code page 932 without its trail byte, what LEFT()
# makes of a name cut inside a character.
CUT_NAME = '"A" + CHR(129)'
# 1,000 bytes with a ":" after 700: only 299 follow it.
HIDDEN_LONG = 'REPLICATE("m", 700) + ":" + REPLICATE("m", 299)'


class DoubleByteCodePageTest(wd.MachineTestCase):
    MACHINE = "code-page"

    def start_japanese(self):
        host = self.machine.host(wd.FLL, locale=JAPANESE)
        self.assertEqual(host.ask("CPCURRENT()"), "932", "the Japanese locale is missing: "
                         "run script/setup")
        return host

    def test_a_name_ending_in_a_lead_byte_lets_no_long_message_through(self):
        server = self.start_japanese()
        poster = self.start_japanese()
        server.send('=SUBSCRIBE("after", "DO OnAfter WITH <Msg>")')
        self.exchange(server, poster)
        poster.send('=ZANVOR(%s, %s)' % (CUT_NAME, HIDDEN_LONG),
                    '=ZANVOR_LOCAL(%s, %s)' % (CUT_NAME, HIDDEN_LONG),
                    '=ZANVOR(%s, REPLICATE("m", 301))' % CUT_NAME,
                    '=ZANVOR(%s, REPLICATE("m", 300))' % CUT_NAME)
        poster.sync()
        self.assertEqual(poster.error_texts(), [TOO_LONG] * 3, poster.describe())
        # The poster lives on and posts on both roads.
        poster.send('=ZANVOR_LOCAL("after", "local")', '=ZANVOR("after", "network")')
        server.wait_calls("OnAfter", 2)
        self.exchange(server, poster)
        self.assertEqual(sorted(server.calls("OnAfter")), [["local"], ["network"]])
        self.assertIsNone(poster.process.poll(), poster.describe())
        self.assertEqual(server.errors(), [], server.describe())


class MacroCharacterTest(wd.MachineTestCase):
    MACHINE = "macro"

    def test_a_message_with_ampersands_reaches_the_handler_unexpanded(self):
        server = self.start()
        client = self.start()
        # Variables the handler's command would splice in if the host
        # expanded the message's "&" as a macro.
        client.send('lcPassword = "secret"', 'T = "-spliced-"',
                    'lcCmd = [x"+lcPassword+"]',
                    '=SUBSCRIBE("amp", "DO OnAmp WITH <Msg>")')
        self.exchange(server, client)
        amp = "CHR(38)"
        messages = [
            ("&lcPassword", amp + ' + "lcPassword"'),
            ("AT&T", '"AT" + %s + "T"' % amp),
            ("&lcCmd.", amp + ' + "lcCmd."'),
            ('"&T', "CHR(34) + %s + \"T\"" % amp),
            ("&&lcPassword", amp + " + " + amp + ' + "lcPassword"'),
        ]
        for _, expression in messages:
            server.send('=ZANVOR_LOCAL("amp", %s)' % expression)
        server.send('=ZANVOR("amp", %s)' % messages[0][1])
        client.wait_calls("OnAmp", len(messages) + 1)
        self.exchange(server, client)
        self.assertEqual(client.calls("OnAmp"),
                         [[m] for m, _ in messages] + [[messages[0][0]]])
        self.assertEqual(client.errors(), [], client.describe())


if __name__ == "__main__":
    unittest.main()
