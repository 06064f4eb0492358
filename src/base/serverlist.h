#ifndef HORAVEX_SERVERLIST_H
#define HORAVEX_SERVERLIST_H

/* The page that lists time servers answering the Time protocol on port 37;
   every text that sends the user looking for another server names it. */
#define SERVER_LIST_URL "https://tf.nist.gov/tf-cgi/servers.cgi"

/* What follows a failure's first line in a box. */
#define TRY_ANOTHER_HOST_LINES \
    "\r\nTry another host (see " SERVER_LIST_URL " for\r\na link to a list of alternative sites)"

#endif
