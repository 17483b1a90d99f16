#pragma once
// File > Restore Backup...: pick one of the backups, confirm, and the store
// files and the documents in memory become those of the backup.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

namespace tw::store {

// `session` and `shell` must outlive `table`.
void registerFeature(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::store
