#ifndef KESTREL_MEDIA_ZEL_CONTROL_POINT_LOG_H
#define KESTREL_MEDIA_ZEL_CONTROL_POINT_LOG_H

/* Where the controller that the control point starts writes its log: a file
 * "LumetControlPoint-log.txt" in the application-data folder (made when
 * missing; never through a symbolic link), never the host's standard output,
 * which belongs to the host. Does nothing when the log is already set up (a
 * host that started the controller itself chose). False when no file could
 * be opened there; the log then goes nowhere. */
bool ZelControlPointOpenLog();

#endif
