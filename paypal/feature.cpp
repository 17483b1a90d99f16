#include "paypal/feature.h"

#include "paypal/refund.h"

namespace tw::paypal {

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    registerRefunds(session, shell, table);
}

} // namespace tw::paypal
