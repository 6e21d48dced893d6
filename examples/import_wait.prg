* import_wait.prg - a desktop program that waits until the nightly import on
* a Linux server is done (import_done.sh posts "import_done"), then goes on.
SET LIBRARY TO zanvor.fll ADDITIVE
=SUBSCRIBE("import_done", "DO ImportDone WITH <Msg>")
? "Waiting for the nightly import."
READ EVENTS
=UNSUBSCRIBE("import_done")
RELEASE LIBRARY zanvor.fll
* ... open the freshly imported tables here ...

PROCEDURE ImportDone
LPARAMETERS tcNote
? "Import finished: " + tcNote
CLEAR EVENTS
ENDPROC
