#pragma once
// The page interface on a QWebEnginePage. Each call runs a small script in
// an isolated world (pages' own scripts cannot see or call ours) and waits
// for its answer in a nested event loop, bounded by a time-out. Change
// events come back through a QWebChannel registered in that same world.

#include "platform/page.h"

#include <QWebEnginePage>

#include <functional>
#include <map>
#include <string>
#include <unordered_set>

class QWebChannel;

namespace tw::web {

// The one object our scripts see through the channel.
class PageBridge : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    Q_INVOKABLE void changed(int handle) { emit elementChanged(handle); }
    Q_INVOKABLE void nearEnd(int handle) { emit endNear(handle); }
  signals:
    void elementChanged(int handle);
    void endNear(int handle);
};

class WebPage : public QWebEnginePage, public page::Page {
    Q_OBJECT
  public:
    explicit WebPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // Asked before every main-frame navigation: (address, address of the
    // document that asked or "" for the program's own loads) -> cancel?
    std::function<bool(const std::string &url, const std::string &fromUrl)> beforeNavigate;
    // A document has finished loading successfully; called from the event
    // loop right after the browser says so; loading() holds until then.
    std::function<void(const std::string &url)> documentComplete;
    // An accepted navigation replaces the document (with its overlay).
    std::function<void()> documentReplaced;
    // Runs an element's change handler; by default at once. The window runs
    // them only while it is idle.
    std::function<void(std::function<void()> handler)> runChangeHandler;
    // Asked for the page of a new window a link wants (target frames).
    std::function<QWebEnginePage *()> newWindowPage;

    // How long one call may wait for the browser.
    int callTimeoutMs = 10000;

    // Loads `url`. Right after a refused navigation the browser may still be
    // winding that one down and drop a new load; such a load is asked again.
    void navigate(const QUrl &url);

    std::string url() override;
    int find(std::string_view key) override;
    std::vector<int> findAll(std::string_view key) override;
    std::vector<int> queryAll(int scope, std::string_view selector) override;
    std::string property(int handle, std::string_view path) override;
    void setProperty(int handle, std::string_view path, std::string_view value) override;
    void setPropertyLater(int handle, std::string_view path, std::string_view value,
                          std::function<void()> done) override;
    std::string attribute(int handle, std::string_view name) override;
    void setAttribute(int handle, std::string_view name, std::string_view value) override;
    std::vector<int> collection(int handle, std::string_view kind) override;
    int insert(int handle, std::string_view kind, int index) override;
    void deleteRow(int handle, int index) override;
    int addOption(int handle, std::string_view text, std::string_view value, bool selected) override;
    void onChange(int handle, std::function<void()> handler) override;
    void watchEnd(int handle, std::function<void()> nearEnd) override;
    std::vector<std::vector<std::string>> values(int scope, std::string_view selector,
                                                 const std::vector<std::string> &paths) override;
    void setEach(int scope, std::string_view selector, std::string_view path,
                 const std::vector<std::string> &values) override;
    bool loading() override { return m_loading; }
    std::uint64_t document() override { return m_document; }

  protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

  private:
    QUrl m_requested;
    bool m_loading = false;
    // Counts the documents navigations have replaced.
    quint64 m_document = 0;
    bool m_refusing = false;
    static constexpr int kRefusalSettleMs = 2000;
    int m_retries = 0;

    // Runs __tw[op](args...) and returns its result; null on time-out.
    QVariant call(const char *op, const QVariantList &args);
    // Runs the script of a call and waits for its answer.
    QVariant run(const QString &js, const char *op);
    int handleOf(const QVariant &v);
    std::vector<int> handlesOf(const QVariant &v);
    bool live(int handle) const { return m_live.count(handle) != 0; }

    QWebChannel *m_channel;
    std::unordered_set<int> m_live;
    std::map<int, std::function<void()>> m_changeHandlers;
    std::map<int, std::function<void()>> m_endHandlers;
};

} // namespace tw::web
