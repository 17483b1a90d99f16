#pragma once
// PayPal in the window: the refund form. The view fetches the payment
// details itself (paypal/details.h).

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

namespace tw::paypal {

// `session` and `shell` must outlive `table`.
void registerFeature(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::paypal
