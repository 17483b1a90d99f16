#pragma once
// The long-lived state of one run: the store, the lookup document, what
// FirstTimeInit learns from eBay, the current view. The window owns one;
// operations take what they need from it.

#include "platform/datetime.h"
#include "platform/xml.h"
#include "store/store.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tw {

class Session {
  public:
    Session();

    // Start-up steps: builds the lookup document, opens or creates the ten
    // documents, reads the first view and brings older settings up to date.
    // Returns the problems the user must be told about (files kept aside).
    std::vector<std::string> openStore(const std::filesystem::path &dataDir);

    // eBay time now: local now plus the measured offset.
    DateTime eBayNow() const;

    store::Store store;
    xml::Document lookup;
    xml::Document eBayDetails;
    xml::Document dazzleDefinitions;

    // eBay official time minus the local clock, in days.
    double eBayClockOffset = 0.0;
    DateTime eBayOfficialTime;
    DateTime localTimeAtMeasurement;

    bool mainPageInitialised = false;
    std::string currentView;
    // The last GetFeedback answer, shown in the rating box of the main page.
    xml::Document feedbackRating;

    // The order selection: the orders chosen for one action (the tagged
    // orders of a message, the orders of one label, the order refunded), as
    // deep copies under a shallow copy of the root of the store document they
    // came from. The first is the order whose values fill a form. The next
    // action that makes a selection replaces it.
    xml::Document orderSelection;
    // Replaces the order selection with copies of `orders` (nodes of
    // `source`), in the order given.
    void selectOrders(const xml::Document &source, const std::vector<xml::Node> &orders);
};

} // namespace tw
