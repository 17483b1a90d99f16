#include "app/features.h"

#include "messaging/feature.h"
#include "orders/feature.h"
#include "paypal/feature.h"
#include "postage/feature.h"
#include "ui/feature.h"

namespace tw::app {

void composeFeatures(Session &session, Shell &shell, FeatureTable &table)
{
    orders::registerFeature(session, shell, table);
    ui::registerFeature(session, shell, table);
    ui::registerOptions(session, shell, table);
    messaging::registerFeature(session, shell, table);
    postage::registerFeature(session, shell, table);
    paypal::registerFeature(session, shell, table);
}

} // namespace tw::app
