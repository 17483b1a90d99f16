#pragma once
// Paths of the served pages the program navigates to or recognises.

#include <string_view>

namespace tw::ui {

inline constexpr std::string_view kWelcomePage = "/KORVA/welcome.html";
inline constexpr std::string_view kMainPage = "/KORVA/main-1.0.47.html";
inline constexpr std::string_view kSettingsPage = "/KORVA/settings.html";
inline constexpr std::string_view kHelpPage = "/KORVA/help.html";
inline constexpr std::string_view kPrintPostagePage = "/KORVA/PrintPostageForm-1.0.57.html";
inline constexpr std::string_view kPrintPostageWorldShipPage = "/KORVA/PrintPostageFormWorldShip-1.0.57.html";
inline constexpr std::string_view kComposeEmailPage = "/KORVA/ComposeEmail.html";
inline constexpr std::string_view kContactBuyerPage = "/KORVA/ContactBuyer.html";
inline constexpr std::string_view kPaypalRefundPage = "/korva/paypalrefundform.html";
inline constexpr std::string_view kEbayRefundPage = "/korva/ebayrefundform.html";
inline constexpr std::string_view kProcessingImage = "/korva/processing.gif";
inline constexpr std::string_view kDazzleDefinitions = "/korva/dazzle-korva.xml";

} // namespace tw::ui
