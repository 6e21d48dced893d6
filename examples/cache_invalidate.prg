* cache_invalidate.prg - after changing tables, tell every running copy of
* the application on the network to drop its cached copy of them.
SET LIBRARY TO zanvor.fll ADDITIVE
* ... UPDATE prices ... and UPDATE customers ... here ...
=ZANVOR("cache_invalidate", "prices")
=ZANVOR("cache_invalidate", "customers")
RELEASE LIBRARY zanvor.fll
