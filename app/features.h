#pragma once
// Composes the program: every feature folder registers what it answers in
// the one FeatureTable the window and the page layer dispatch through.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tw::app {

// `session` and `shell` must outlive `table`.
void composeFeatures(Session &session, Shell &shell, FeatureTable &table);

// The program's version, "major.minor.patch".
std::string version();

// The text of Help > About: the version and where the data, the log and the
// backups are.
std::string aboutText(const std::filesystem::path &dataDir);

// What the log must never show, read afresh at each call: the seller's eBay
// token and PayPal credentials as stored now, the eBay certificate id and the
// PayPal certificate's password from the configuration.
std::vector<std::string> knownSecrets(const Session &session);

} // namespace tw::app
