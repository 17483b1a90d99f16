#pragma once
// Messages to buyers in the window: eBay's contact page filled from the
// seller's templates and its confirmation, the program's contact page and
// its Send link, e-mail to the tagged buyers over SMTP, and the message
// pages' Cancel links.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

namespace tw::messaging {

// `session` and `shell` must outlive `table`.
void registerFeature(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::messaging
