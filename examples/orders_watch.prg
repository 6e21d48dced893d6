* orders_watch.prg - shows every order that any program on the network
* posts under "orders". Run it on as many machines as you like, then run
* orders_post.prg anywhere. It ends when the shop closes ("orders_closed").
SET LIBRARY TO zanvor.fll ADDITIVE
=SUBSCRIBE("orders", "DO OnOrder WITH <Msg>")
=SUBSCRIBE("orders_closed", "DO OnClosed WITH <Msg>")
? "Waiting for orders."
READ EVENTS
=UNSUBSCRIBE("orders")
=UNSUBSCRIBE("orders_closed")
RELEASE LIBRARY zanvor.fll

PROCEDURE OnOrder
LPARAMETERS tcOrder
* The message is a plain text of at most 300 characters: here the order
* number, the customer and what was ordered, separated by semicolons.
? "New order: " + tcOrder
ENDPROC

PROCEDURE OnClosed
LPARAMETERS tcWhy
? "No more orders: " + tcWhy
CLEAR EVENTS
ENDPROC
