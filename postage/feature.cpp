#include "postage/feature.h"

namespace tw::postage {

void registerFeature(Session &, Shell &shell, FeatureTable &table)
{
    table.addAction("CancelPrintPostage", [&shell, &table](const Params &) {
        shell.stopTimer("tmrWaitingForDazzle");
        shell.ProcessingImageHide();
        table.RefreshGrid();
    });
}

} // namespace tw::postage
