// The tool's seam to the system's service manager, for
// `vardlix forward --service NAME` (service_win32.cpp, service_posix.cpp).
//
// On Windows the service control manager starts the tool with the command
// line it was created with (sc create NAME binPath= "...\vardlix.exe forward
// --service NAME ..."). The tool then connects to it, reports the service
// running, and runs the forwarder on the service's thread; a stop or a
// shutdown request becomes the same interrupt as Ctrl-C (WasInterrupted), so
// the forwarder writes its checkpoint and ends as it does on a console, and
// the service is reported stopped with its exit status. On Linux systemd
// runs the tool as it is (packaging/vardlix-forward@.service): no seam is
// needed there.
#pragma once

#include <functional>
#include <string>

// Runs fnRun as the service strName, as above, and puts its exit status in
// nStatus. False, without running fnRun and with the reason in strError,
// when the process was not started by a service manager (a console, or any
// system but Windows).
bool RunAsService(const std::string& strName, const std::function<int()>& fnRun, int& nStatus, std::string& strError);

// Registers the service strName (Windows), started with the machine and
// again 5 s after it fails, that runs this program as
//   "PROGRAM" forward --service NAME --config "CONFIG"
// with strConfig made absolute. False, with the reason in strError, where
// it could not be registered (no right to, a service of that name, not
// Windows).
bool InstallService(const std::string& strName, const std::string& strConfig, std::string& strError);
// Stops the service strName when it runs, waiting up to 30 s, and removes
// it. False, with the reason in strError.
bool RemoveService(const std::string& strName, std::string& strError);
