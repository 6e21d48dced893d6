* chat_bob.prg - one side of a chat between two programs on one machine.
* Start it first, then chat_alice.prg in a second FoxPro session. Bob answers
* every line Alice sends him and goes away when she says goodbye.
SET LIBRARY TO zanvor.fll ADDITIVE
=SUBSCRIBE("chat_to_bob", "DO BobHears WITH <Msg>")
=SUBSCRIBE("chat_bye", "DO BobLeaves WITH <Msg>")
? "Bob is online."
* The handlers run while the program waits here.
READ EVENTS
=UNSUBSCRIBE("chat_to_bob")
=UNSUBSCRIBE("chat_bye")
RELEASE LIBRARY zanvor.fll

PROCEDURE BobHears
LPARAMETERS tcLine
? "Alice: " + tcLine
=ZANVOR_LOCAL("chat_to_alice", "I hear you. You said: " + tcLine)
ENDPROC

PROCEDURE BobLeaves
LPARAMETERS tcLine
? "Alice left: " + tcLine
CLEAR EVENTS
ENDPROC
