// The configuration file of `vardlix forward --config FILE`: several log
// folders forwarded by one process. It is JSON, which the tool reads already
// (its checkpoints), so a fleet's configuration tools can write it with
// their own JSON support and no second format is parsed here:
//
//   {"to": "relp://logs.example:2514", "hostname": "desk-17",
//    "folders": [
//      {"folder": "/opt/app/bin/serverLog", "state": "/var/lib/vardlix/server.json"},
//      {"host": "/opt/viewer/bin/viewer", "app": "viewer", "state": "/var/lib/vardlix/viewer.json"}]}
//
// Every key but "folders" is a long option of the command line without its
// dashes, with the value it takes there: a string or a number, true for a
// flag, a list for an option given more than once ("severity"). A folder's
// own keys take the place of the same keys at the top; a folder may be
// given as its path alone, and a path with a wildcard ("/opt/*/bin/*Log")
// stands for every folder it matches when the file is read (at the start
// and at SIGHUP), each keeping its checkpoint in itself. The command line
// checks the values
// (forward_command_line.h), so the file accepts what the command line does
// and says no to the rest in the command line's words. Comments (// and
// /* */) may explain a value.
#pragma once

#include <string>
#include <vector>

// One folder's command line, the file's keys merged with its own:
// "--to", "relp://...", "--folder", "/opt/app/bin/serverLog", ...
using ForwardArguments = std::vector<std::string>;

// Reads the file: one ForwardArguments per folder, in the file's order.
// False, with the reason (the file's path first), when it cannot be read,
// is not JSON, names no folder, or holds a key or value that no option
// takes the way it is written.
bool ReadForwardConfig(const std::string& strPath, std::vector<ForwardArguments>& aFolders, std::string& strError);
