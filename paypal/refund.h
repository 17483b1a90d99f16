#pragma once
// The refund form: one order's PayPal payment paid back, in part or whole,
// from the refund link of the order's row (an overcharged buyer's postage,
// say). The order being refunded is the session's order selection while the
// form is open.

#include "platform/features.h"
#include "platform/shell.h"
#include "platform/xml.h"
#include "store/session.h"

#include <optional>
#include <string>
#include <string_view>

namespace tw::paypal {

inline constexpr std::string_view kRefundFormPage = "/korva/paypalrefundform.html";

// The texts the seller sees.
inline constexpr std::string_view kRefundTitle = "PayPal Refund";
inline constexpr std::string_view kCannotLocateOrder = "Cannot locate transaction.";
inline constexpr std::string_view kEnterAmount = "Please enter an amount.";
inline constexpr std::string_view kNoPaypalTransaction =
    "We cannot locate the Paypal Transaction for this refund.  The refund will not be issued.";
inline constexpr std::string_view kNoTransaction =
    "We cannot locate the Transaction for this refund.  The refund will not be issued.";
inline constexpr std::string_view kRefundFailed = "Refund failed.";
// Asked when the window is closed while PayPal's answer to a refund is awaited.
inline constexpr std::string_view kCloseWhileRefunding =
    "Tidewell is waiting for PayPal's answer to a refund. If you close now, the refund may still be made; "
    "Tidewell asks PayPal about the payment before it offers a refund again. Close anyway?";

// The payment summary of the form (its topleft_td) for `order`: the PayPal
// transaction id, the payer's e-mail (`placeholder` instead when
// `privateMode`) and the amount paid. Values escaped.
std::string paymentSummaryHtml(xml::Node order, std::string_view paypalTransactionId, bool privateMode,
                               std::string_view placeholder);

// The shipment summary of the form (its topright_td): what the buyer paid
// for shipping and, when a label in `labels` (ShippingLabels, may be null)
// packed the order, its postage and the difference. Values escaped.
std::string shipmentSummaryHtml(xml::Node order, const xml::Document &labels);

// A typed amount as PayPal takes it, with two decimals ("5" gives "5.00");
// nothing unless it is a positive number of dollars and cents.
std::optional<std::string> refundAmount(std::string_view typed);

// Registers DisplayPaypalRefundForm, PaypalRefundSend, CancelPaypalRefund
// and the form's fill. `session` and `shell` must outlive `table`.
void registerRefunds(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::paypal
