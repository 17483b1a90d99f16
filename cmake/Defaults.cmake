# Build-time defaults of the program constants. Each can be set at configure
# time (-DTW_CFG_ebay_ApiUrl=...) and overridden at run time by the INI file
# named by --config or TIDEWELL_CONFIG (section/key as below).
macro(tw_default section key value doc)
  set(TW_CFG_${section}_${key} "${value}" CACHE STRING "${doc}")
  string(APPEND TW_CONFIG_DEFAULTS
    "TW_CONFIG_KEY(\"${section}/${key}\", R\"tw(${TW_CFG_${section}_${key}})tw\")\n")
endmacro()

set(TW_CONFIG_DEFAULTS "")
tw_default(ebay DevName     "TIDEWELLSANDBOXDEVNAME00000000" "eBay developer id (X-EBAY-API-DEV-NAME)")
tw_default(ebay AppName     "Tidewell-0000-0000-0000-000000000000" "eBay application id (X-EBAY-API-APP-NAME)")
tw_default(ebay CertName    "00000000-0000-0000-0000-000000000000" "eBay certificate id (X-EBAY-API-CERT-NAME)")
tw_default(ebay RuName      "Tidewell-Tidewell-Sandbo-aaaaaaaaaaaaaaaa" "eBay redirect-URL name")
tw_default(ebay ApiUrl      "https://api.ebay.com/ws/api.dll" "Trading API endpoint")
tw_default(ebay SignInUrl   "https://signin.ebay.com/ws/eBayISAPI.dll" "sign-in page (query SignIn&runame=...&SessID=...)")
tw_default(ebay AuthCancelUrl "https://signin.ebay.com/aw-secure/auth_auth_cancel.html?" "authorisation-cancel page, exactly")
tw_default(ebay FeedbackUrl "http://feedback.ebay.com/ws/eBayISAPI.dll" "feedback pages")
tw_default(ebay ContactUrl  "http://contact.ebay.com/ws/eBayISAPI.dll" "contact page")
tw_default(ebay SalesRecordUrl "http://k2b-bulk.ebay.com/ws/eBayISAPI.dll?EditSalesRecord" "sales-record editor")
tw_default(ebay ItemUrl     "http://cgi.ebay.com/ws/eBayISAPI.dll" "item page (query ViewItem&item=...)")
tw_default(usps UserID      "000TIDEWELL0" "USPS web-tools user id")
tw_default(usps WebToolsUrl "http://production.shippingapis.com/ShippingAPI.dll" "USPS web tools")
tw_default(usps TrackingPageUrl "http://trkcnfrm1.smi.usps.com" "USPS track-and-confirm site")
tw_default(ups  TrackingPageUrl "http://wwwapps.ups.com/WebTracking/processInputRequest" "UPS tracking page")
tw_default(paypal SignatureApiUrl   "https://api-3t.paypal.com/nvp" "PayPal NVP endpoint, signature credentials")
tw_default(paypal CertificateApiUrl "https://api.paypal.com/nvp" "PayPal NVP endpoint, certificate credentials")
tw_default(paypal ClientCertificate "" "PKCS#12 file of the PayPal API certificate")
tw_default(paypal ClientCertificatePassword "" "password of that file")
tw_default(pages BaseUrl    "tidewell://pages" "server of the pages; /KORVA/... is appended")
tw_default(web ProductSite  "https://tidewell.example/" "product web site (Help > Visit Our Website)")
tw_default(web FeedbackForm "https://tidewell.example/feedback" "bug report and feature request form")
tw_default(web CertificatePage "https://tidewell.example/certificate-install.html" "PayPal certificate instructions")
tw_default(privacy PlaceholderEmail "buyer@example.invalid" "address shown in place of buyers' e-mail in private mode")
tw_default(net TimeoutSeconds "60" "time-out of every HTTP exchange, in seconds")

file(WRITE ${CMAKE_BINARY_DIR}/generated/config_defaults.inc.tmp "${TW_CONFIG_DEFAULTS}")
file(COPY_FILE ${CMAKE_BINARY_DIR}/generated/config_defaults.inc.tmp
     ${CMAKE_BINARY_DIR}/generated/config_defaults.inc ONLY_IF_DIFFERENT)
