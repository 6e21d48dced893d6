* chat_alice.prg - the other side of the chat: start chat_bob.prg first.
* Alice says hello, waits for Bob's answer, then says goodbye.
SET LIBRARY TO zanvor.fll ADDITIVE
=SUBSCRIBE("chat_to_alice", "DO AliceHears WITH <Msg>")
* Sent as soon as the library has met the machine's other instances, which
* happens while the program waits in READ EVENTS.
=ZANVOR_LOCAL("chat_to_bob", "Hello Bob, are you there?")
READ EVENTS
=ZANVOR_LOCAL("chat_bye", "See you tomorrow.")
=UNSUBSCRIBE("chat_to_alice")
RELEASE LIBRARY zanvor.fll

PROCEDURE AliceHears
LPARAMETERS tcLine
? "Bob: " + tcLine
CLEAR EVENTS
ENDPROC
