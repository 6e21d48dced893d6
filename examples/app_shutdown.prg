* app_shutdown.prg - ask every running copy of the application on the
* network to close, e.g. before a backup or an update.
SET LIBRARY TO zanvor.fll ADDITIVE
=ZANVOR("app_shutdown", "backup at 22:00")
RELEASE LIBRARY zanvor.fll
