#ifndef KESTREL_MEDIA_ZEL_CONTROL_POINT_LOG_H
#define KESTREL_MEDIA_ZEL_CONTROL_POINT_LOG_H

/* Where the controller that the control point starts writes its log: a file
 * "LumetControlPoint-log.txt" in the application-data folder (made when
 * missing), never the host's standard output, which belongs to the host.
 * Does nothing when the log is already set up (a host that started the
 * controller itself chose). False when no file could be opened; the log then
 * stays as the controller sets it. */
bool ZelControlPointOpenLog();

#endif
