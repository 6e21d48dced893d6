* orders_post.prg - the order entry side: every order it saves is announced
* to every orders_watch.prg on the network, this machine's included.
SET LIBRARY TO zanvor.fll ADDITIVE
* ... INSERT INTO orders ... here ...
=ZANVOR("orders", "1001;ACME Ltd;3 boxes")
=ZANVOR("orders", "1002;Zenith and Sons;1 crate")
=ZANVOR("orders_closed", "the shop is closed")
RELEASE LIBRARY zanvor.fll
