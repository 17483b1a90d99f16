// PayPal's NVP API: GetTransactionDetails and RefundTransaction, answered
// the way PayPal answers (every value percent-encoded, errors as L_ fields).

#include "sandbox/impl.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tw::sandbox {

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// PayPal's own encoding: letters, digits and "_" stay, the rest is %xx in
// lower case (a blank too).
std::string nvpEncode(const std::string &text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string nvp(const Fields &fields)
{
    std::string out;
    for (const auto &[name, value] : fields) {
        if (!out.empty()) out += '&';
        out += name + "=" + nvpEncode(value);
    }
    return out;
}

// "2009-10-19T16:32:54Z"
std::string paypalTime(const DateTime &t)
{
    std::string s = t.toString();
    if (s.size() > 10) s[10] = 'T';
    return s.substr(0, 19) + "Z";
}

// A plain decimal amount ("5", "5.00", "12.5"); false for anything else.
bool parseAmount(const std::string &text, double &out)
{
    if (text.empty()) return false;
    int dots = 0, decimals = 0;
    for (char c : text) {
        if (c == '.') {
            if (++dots > 1) return false;
        } else if (c < '0' || c > '9') {
            return false;
        } else if (dots) {
            ++decimals;
        }
    }
    if (decimals > 2 || text == ".") return false;
    out = std::round(std::strtod(text.c_str(), nullptr) * 100) / 100;
    return true;
}

} // namespace

std::string maskNvpSecrets(const std::string &text)
{
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        std::string piece = text.substr(start, end - start);
        const std::size_t eq = piece.find('=');
        const std::string name = piece.substr(0, eq);
        // However the name came encoded or spelt, its value is masked.
        const QString plain = QString::fromUtf8(QByteArray::fromPercentEncoding(QByteArray::fromStdString(name)));
        if (eq != std::string::npos &&
            (plain.compare("PWD", Qt::CaseInsensitive) == 0 || plain.compare("SIGNATURE", Qt::CaseInsensitive) == 0))
            piece = name + "=****";
        out += piece;
        if (end < text.size()) out += '&';
        start = end + 1;
    }
    return out;
}

Reply Sandbox::Impl::paypal(const Request &request, bool warn, bool fail)
{
    const auto params = splitQuery(request.body, true);
    auto param = [&](const char *name) {
        for (const auto &[key, value] : params)
            if (key == name) return value;
        return std::string();
    };
    const std::string method = param("METHOD");
    const std::string version = param("VERSION").empty() ? std::string("2.0") : param("VERSION");

    char correlation[24];
    std::snprintf(correlation, sizeof correlation, "%013llx", 0x81d5352500000ull + unsigned(++paypalCounter));
    auto common = [&](const char *ack) {
        return Fields{{"TIMESTAMP", paypalTime(ebayNow())},
                      {"CORRELATIONID", correlation},
                      {"ACK", ack},
                      {"VERSION", version},
                      {"BUILD", "1073465"}};
    };
    // A success that carries a warning: the call was done all the same.
    auto success = [&] {
        Fields f = common(warn ? "SuccessWithWarning" : "Success");
        if (warn)
            f.insert(f.end(), {{"L_ERRORCODE0", "10000"},
                               {"L_SHORTMESSAGE0", "Sandbox warning"},
                               {"L_LONGMESSAGE0", "The sandbox answers this call with a warning"},
                               {"L_SEVERITYCODE0", "Warning"}});
        return f;
    };
    auto answer = [&](Fields fields) {
        Reply r;
        r.contentType = "text/plain; charset=utf-8";
        r.body = nvp(fields);
        return r;
    };
    auto error = [&](const std::string &code, const std::string &shortMessage, const std::string &longMessage) {
        Fields f = common("Failure");
        f.push_back({"L_ERRORCODE0", code});
        f.push_back({"L_SHORTMESSAGE0", shortMessage});
        f.push_back({"L_LONGMESSAGE0", longMessage});
        f.push_back({"L_SEVERITYCODE0", "Error"});
        return answer(f);
    };

    if (fail) return error("10001", "Internal Error", "Internal Error");
    if (method != "GetTransactionDetails" && method != "RefundTransaction")
        return error("81002", "Unspecified Method", "Method Specified is not Supported");
    // The certificate endpoint knows the caller by its TLS certificate and
    // takes no signature; the other one needs it.
    const bool signatureOk = request.tls ? param("SIGNATURE").empty() : param("SIGNATURE") == kPaypalSignature;
    if (param("USER") != kPaypalUser || param("PWD") != kPaypalPassword || !signatureOk)
        return error("10002", "Security error", "Security header is not valid");

    auto found = state.paypal.find(param("TRANSACTIONID"));
    if (found == state.paypal.end())
        return error("10004", "Invalid transaction ID value", "The transaction id is not valid");
    PaypalPayment &payment = found->second;

    if (method == "GetTransactionDetails") {
        const Order *order = payment.order >= 0 && payment.order < int(state.orders.size())
                                 ? &state.orders[std::size_t(payment.order)]
                                 : nullptr;
        const bool pending = payment.pendingFetches > 0;
        const std::string status = payment.status();
        if (pending) --payment.pendingFetches;
        const Address &a = payment.shipTo;
        const std::string seller = state.sellerId + "@example.com";
        Fields f = {{"RECEIVERBUSINESS", seller},  {"RECEIVEREMAIL", seller},    {"RECEIVERID", "DDRJGGZVAFQYU"},
                    {"EMAIL", payment.payerEmail}, {"PAYERID", payment.payerId}, {"PAYERSTATUS", payment.payerStatus},
                    {"COUNTRYCODE", a.country},    {"SHIPTONAME", a.name},       {"SHIPTOSTREET", a.street1}};
        if (!a.street2.empty()) f.push_back({"SHIPTOSTREET2", a.street2});
        f.insert(f.end(), {{"SHIPTOCITY", a.city},
                           {"SHIPTOSTATE", a.state},
                           {"SHIPTOCOUNTRYCODE", a.country},
                           {"SHIPTOCOUNTRYNAME", a.countryName},
                           {"SHIPTOZIP", a.postalCode},
                           {"ADDRESSOWNER", "eBay"},
                           {"ADDRESSSTATUS", "Confirmed"},
                           {"SALESTAX", "0.00"}});
        if (order) {
            f.push_back({"BUYERID", order->buyer >= 0 && order->buyer < int(state.buyers.size())
                                        ? state.buyers[std::size_t(order->buyer)].userId
                                        : std::string()});
            f.push_back({"CLOSINGDATE", paypalTime(order->created)});
        }
        const Fields ok = success();
        f.insert(f.end(), ok.begin(), ok.end());
        f.insert(f.end(), {{"FIRSTNAME", payment.firstName},
                           {"LASTNAME", payment.lastName},
                           {"TRANSACTIONID", payment.transactionId},
                           {"TRANSACTIONTYPE", "cart"},
                           {"PAYMENTTYPE", pending ? "echeck" : "instant"},
                           {"ORDERTIME", paypalTime(payment.orderTime)},
                           {"AMT", money(payment.amount)},
                           {"FEEAMT", money(payment.fee)},
                           {"TAXAMT", "0.00"},
                           {"CURRENCYCODE", "USD"},
                           {"PAYMENTSTATUS", status},
                           {"PENDINGREASON", pending ? "echeck" : "None"},
                           {"REASONCODE", payment.refunds.empty() ? "None" : "refund"}});
        if (!payment.refunds.empty()) f.push_back({"TOTALREFUNDEDAMOUNT", money(payment.refunded())});
        if (!payment.note.empty()) f.push_back({"NOTE", payment.note});
        if (order) {
            f.insert(f.end(), {{"L_NAME0", order->title},
                               {"L_NUMBER0", order->itemId},
                               {"L_QTY0", std::to_string(order->quantity)},
                               {"L_CURRENCYCODE0", "USD"}});
        }
        return answer(f);
    }

    // RefundTransaction
    const std::string type = param("REFUNDTYPE");
    const std::string amountText = param("AMT");
    if (type != "Full" && type != "Partial" && type != "Other")
        return error("10004",
                     "Transaction refused because of an invalid argument. See additional error messages for details.",
                     "The refund type is not valid");
    if (payment.pendingFetches > 0)
        return error("10009", "Transaction refused",
                     "The payment is still pending; it can be refunded once it has completed");
    const double left = payment.leftToRefund();
    if (left <= 0) return error("10009", "Transaction refused", "This transaction has already been fully refunded");
    double gross = 0;
    if (type == "Full") {
        // The amount may be left out; when given it must be all that is left.
        if (!amountText.empty() && (!parseAmount(amountText, gross) || std::fabs(gross - left) > 0.001))
            return error("10009", "Transaction refused", "You can not specify a partial amount with a full refund");
        gross = left;
    } else {
        if (!parseAmount(amountText, gross) || gross <= 0)
            return error("10009", "Transaction refused", "The partial refund amount must be a positive amount");
        if (gross > left + 0.001)
            return error("10009", "Transaction refused",
                         "The partial refund amount must be less than or equal to the remaining amount");
    }

    PaypalRefund refund;
    char id[24];
    std::snprintf(id, sizeof id, "4RP%014d", paypalCounter);
    refund.refundTransactionId = id;
    refund.type = type;
    refund.note = param("NOTE");
    refund.gross = gross;
    refund.fee = payment.amount > 0 ? std::round(payment.fee * gross / payment.amount * 100) / 100 : 0;
    refund.time = ebayNow();
    payment.refunds.push_back(refund);

    Fields f = success();
    f.insert(f.end(), {{"REFUNDTRANSACTIONID", refund.refundTransactionId},
                       {"FEEREFUNDAMT", money(refund.fee)},
                       {"GROSSREFUNDAMT", money(refund.gross)},
                       {"NETREFUNDAMT", money(refund.gross - refund.fee)}});
    return answer(f);
}

} // namespace tw::sandbox
