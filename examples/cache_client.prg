* cache_client.prg - an application that keeps lookup tables in memory and
* drops its copy whenever any program on the network says a table changed.
* Run it in several sessions, on several machines; then run
* cache_invalidate.prg anywhere. app_shutdown.prg closes every copy.
SET LIBRARY TO zanvor.fll ADDITIVE
=SUBSCRIBE("cache_invalidate", "DO DropCache WITH <Msg>")
=SUBSCRIBE("app_shutdown", "DO ShutDown WITH <Msg>")
? "Caching prices and customers."
READ EVENTS
=UNSUBSCRIBE("cache_invalidate")
=UNSUBSCRIBE("app_shutdown")
RELEASE LIBRARY zanvor.fll

PROCEDURE DropCache
LPARAMETERS tcTable
* A real application closes its cursor here, USE IN SELECT("cur" + tcTable),
* and queries the table again the next time it needs it.
? "Cache dropped: " + tcTable
ENDPROC

PROCEDURE ShutDown
LPARAMETERS tcReason
? "Closing: " + tcReason
CLEAR EVENTS
ENDPROC
