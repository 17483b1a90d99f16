#include "paypal/feature.h"

namespace tw::paypal {

void registerFeature(Session &, Shell &shell, FeatureTable &table)
{
    table.addAction("CancelPaypalRefund", [&shell, &table](const Params &) {
        shell.ProcessingImageHide();
        table.RefreshGrid();
    });
}

} // namespace tw::paypal
