// What the component's methods on the object model need of the library's
// foundation: accounted memory and the configuration store, whose properties
// name the video site, the picture sites and the date server.
#ifndef KESTREL_XPCOM_ZEL_XPCOM_FOUNDATION_H
#define KESTREL_XPCOM_ZEL_XPCOM_FOUNDATION_H

// Makes sure accounted memory and the configuration store with the site
// properties are up before a method uses them. When nothing has brought the
// store up yet (the controller does when it starts), the component brings it
// up itself, once per process, with its ini file "lumetmedia.ini" in the
// application-data folder of the user settings, and keeps it until the
// library is unloaded or the process ends. Neither makes folders nor writes
// files.
void zel_xpcom_foundation_ready(void);

#endif
