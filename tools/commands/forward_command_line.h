// The command line of `vardlix forward`, for vardlix_app.cpp: its options
// with CLI11's checks, and their values for RunForward.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "commands/commands.h"

// What CLI11 fills in; FinishForwardOptions turns it into CForwardOptions.
struct CForwardCommandLine {
  CForwardOptions m_options;
  std::string m_strHost;                   // --host, the other way to name the folder
  std::vector<std::string> m_aSeverities;  // TYPE=LEVEL
  std::string m_strFacility = "user";
  std::string m_strFraming = "octet";
  bool m_bFromStart = false;        // what a first run does anyway (CForwardOptions::m_bFromNow is the other way)
  std::string m_strService;         // --service NAME: run as that Windows service
  std::string m_strInstallService;  // --install-service NAME
  std::string m_strRemoveService;   // --remove-service NAME
  bool m_bNoVerify = false;         // --insecure-no-verify
};

CLI::App* AddForwardCommand(CLI::App& app, CForwardCommandLine& line);
CForwardOptions FinishForwardOptions(const CForwardCommandLine& line);

// The options of each folder that a configuration file names
// (forward_config.h), checked as the command line checks them. False, with
// the file, the folder and the reason, when one does not pass.
bool ReadForwardConfigOptions(const std::string& strPath, std::vector<CForwardOptions>& aOptions,
                              std::string& strError);
