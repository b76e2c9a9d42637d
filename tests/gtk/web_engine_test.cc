// The web view over WebKit: the SDK's own page scripts, navigation types, script messages with
// and without reply, and failures, each in the real engine.
#include <gtest/gtest.h>

#include "orvex/web/page_scripts.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_web_view.h"
#include "tests/gtk/gtk_test_support.h"
#include "tools/adserver/ad_server.h"

namespace orvex {
namespace {

using gtk_testing::evaluate;
using gtk_testing::GtkTestSdk;
using gtk_testing::PageRecorder;
using testing_support::TempDir;

class WebEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ORVEX_REQUIRE_DISPLAY();
    adserver::Options o;
    o.fixtures = ORVEX_ADSERVER_FIXTURES;
    server_ = std::make_unique<adserver::AdServer>(o);
    ASSERT_TRUE(server_->start());
    sdk_ = std::make_unique<GtkTestSdk>(dir_.path());
    window_ = sdk_->port().ui->makeWindow();
    window_->makeKeyAndVisible();
    WebViewConfiguration configuration;
    configuration.mediaPlaybackRequiresUserAction = false;
    page_ = std::dynamic_pointer_cast<gtk::GtkWebView>(sdk_->port().ui->makeWebView(configuration));
    window_->addSubview(page_);
    page_->setFrame(Rect(0, 0, 320, 200));
    page_->setNavigationDelegate(recorder_);
  }
  void TearDown() override {
    page_.reset();
    window_.reset();
    sdk_.reset();
    if (server_) server_->stop();
  }
  // Loads `html` and waits until the engine finished it.
  void load(const std::string& html) {
    const std::size_t before = recorder_->count("finish");
    page_->loadHTMLString(html);
    ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("finish") > before; }));
  }
  Value run(const std::string& script) {
    auto answer = evaluate(*sdk_, *page_, script);
    EXPECT_FALSE(answer.error) << answer.error->description;
    return answer.result.value_or(Value());
  }

  TempDir dir_;
  std::unique_ptr<adserver::AdServer> server_;
  std::unique_ptr<GtkTestSdk> sdk_;
  std::shared_ptr<Window> window_;
  std::shared_ptr<gtk::GtkWebView> page_;
  std::shared_ptr<PageRecorder> recorder_ = std::make_shared<PageRecorder>();
};

TEST_F(WebEngine, SdkPageScriptsRunAsTheCodeExpects) {
  page_->addUserScript(
      {page_scripts::videoSourceProbe(), UserScriptInjectionTime::atDocumentEnd, true});
  page_->addUserScript(
      {page_scripts::loadCompleteCheck(), UserScriptInjectionTime::atDocumentEnd, true});
  load(
      "<html><body style='margin:0'><video><source src='https://cdn.example/clip.mp4'>"
      "<source src='https://cdn.example/second.mp4'></video>"
      "<img loading='lazy' src='" +
      server_->baseUrl() +
      "/static/missing.png'>"
      "<div style='width:300px;height:700px'></div></body></html>");

  EXPECT_EQ(run("videoSrc()"), Value("https://cdn.example/clip.mp4"));
  // An image still on its way holds the check at false; the lazy one never counts.
  EXPECT_EQ(run("isLoadComplete()"), Value(true));
  // Checked in the same task that adds the image, so the fetch cannot win the race.
  EXPECT_EQ(run("var late = new Image(); late.src = '" + server_->baseUrl() +
                "/static/banner.png?late'; document.body.appendChild(late); isLoadComplete()"),
            Value(false));
  EXPECT_TRUE(sdk_->runUntil([&] { return run("isLoadComplete()") == Value(true); }));
  const Value size = run(page_scripts::contentSizeMeasurement());
  ASSERT_TRUE(size.find("width") && size.find("height"));
  EXPECT_EQ(size.find("width")->number(), 320);
  EXPECT_GE(*size.find("height")->number(), 700);

  // Results the platform cannot carry come back as errors, not as crashes.
  auto thrown = evaluate(*sdk_, *page_, "undefinedFunction()");
  ASSERT_TRUE(thrown.error);
  EXPECT_EQ(thrown.error->domain, WebError::kWebKitErrorDomain);
  EXPECT_TRUE(evaluate(*sdk_, *page_, "(function() {})").error);
  auto nothing = evaluate(*sdk_, *page_, "void 0");
  EXPECT_FALSE(nothing.result || nothing.error);
  EXPECT_EQ(
      run("javascript:(function() { return [1, 'two', {three: 3.5}, null]; })();"),
      Value(ValueArray{Value(1), Value("two"), Value(ValueDict{{"three", Value(3.5)}}), Value()}));
}

// WebKit's side of the navigation contract beyond the shared cases (tests/conformance): a frame's
// srcdoc is a sub-frame; a script the host runs carries a gesture (window.open too); a page's own
// target="_blank" click is blocked outright; a page's own navigation cancelled at its response
// never shows.
TEST_F(WebEngine, WhatWebKitAddsToTheNavigationContract) {
  const std::string base = server_->baseUrl();
  recorder_->cancelPrefixes = {"https://adv.example/form", base};
  load(
      "<iframe srcdoc='<p>inline</p>'></iframe><a id='blank' target='_blank' "
      "href='https://adv.example/auto-blank'>y</a>"
      "<form id='form' action='https://adv.example/form' method='post'><input name='q'></form>"
      "<script>setTimeout(function() { document.getElementById('blank').click();"
      "  location.href = '" +
      base + "/quest/demo/next.html'; }, 50);</script>");
  ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("fail") == 1; }));
  run("window.open('https://adv.example/open')");
  run("document.getElementById('form').submit()");
  ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("decide form") == 1; }));
  sdk_->runFor(0.3);
  std::vector<std::string> seen;
  for (const auto& e : recorder_->events) {
    if (e.starts_with("decide") || e.starts_with("window")) seen.push_back(e);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "decide other main - about:blank",
                      "decide other sub - about:srcdoc",
                      "decide other main - " + base + "/quest/demo/next.html",
                      "window other window gesture https://adv.example/open",
                      "decide form main gesture https://adv.example/form",
                  }));
  EXPECT_EQ(run("location.href"), Value("about:blank"));
  // Cancelled navigations read as the cancellation formats ignore, never as real failures.
  for (const auto& e : recorder_->events) {
    if (e.starts_with("fail")) {
      EXPECT_EQ(e, "fail NSURLErrorDomain -999");
    }
  }
}

// Nothing a page offers is saved: what the engine cannot show is refused, and a download the
// page starts itself is cancelled.
TEST_F(WebEngine, PagesDownloadNothing) {
  auto* session = webkit_web_view_get_network_session(page_->engineView());
  struct Downloads {
    int started = 0, cancelled = 0;
  } downloads;
  gulong id = g_signal_connect(
      session, "download-started",
      G_CALLBACK(+[](WebKitNetworkSession*, WebKitDownload* d, gpointer data) {
        ++static_cast<Downloads*>(data)->started;
        g_signal_connect(d, "failed", G_CALLBACK(+[](WebKitDownload*, GError* e, gpointer c) {
                           if (g_error_matches(e, WEBKIT_DOWNLOAD_ERROR,
                                               WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER)) {
                             ++static_cast<Downloads*>(c)->cancelled;
                           }
                         }),
                         data);
      }),
      &downloads);
  recorder_->cancelPrefixes.clear();
  load(
      "<script>function link(save) { var a = document.createElement('a');"
      "  a.href = URL.createObjectURL(new Blob(['x'], {type: 'application/octet-stream'}));"
      "  if (save) a.download = 'x.bin'; document.body.appendChild(a); a.click(); }</script>");
  run("link(false)");
  ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("fail") == 1; }));
  EXPECT_EQ(recorder_->events.back(), "fail NSURLErrorDomain -999");
  run("link(true)");
  ASSERT_TRUE(sdk_->runUntil([&] { return downloads.cancelled == 1; }));
  sdk_->runFor(0.3);
  g_signal_handler_disconnect(session, id);
  EXPECT_EQ(downloads.started, 1);
  EXPECT_EQ(run("location.href"), Value("about:blank"));
}

// The in-app browser browses in a session of its own and launches only what its user follows:
// mail, telephone and text links; never a scheme off the list, never on the page's own.
TEST_F(WebEngine, TheInAppBrowserKeepsItsOwnSessionAndLaunchesOnlyWhatTheUserFollows) {
  GtkWidget* host = gtk_window_new();
  gtk_window_set_child(GTK_WINDOW(host), gtk_label_new("host"));
  auto root = sdk_->port().adoptWindow(GTK_WINDOW(host))->rootViewController();
  gtk_window_present(GTK_WINDOW(host));
  auto browser = std::dynamic_pointer_cast<gtk::GtkInAppBrowser>(
      sdk_->port().ui->makeInAppBrowser(server_->baseUrl() + "/quest/demo/next.html"));
  root->present(browser, false, {});
  ASSERT_TRUE(sdk_->runUntil([&] { return browser->page() != nullptr; }));
  auto* web = WEBKIT_WEB_VIEW(browser->page());
  WebKitNetworkSession* session = webkit_web_view_get_network_session(web);
  EXPECT_TRUE(webkit_network_session_is_ephemeral(session));
  EXPECT_NE(session, webkit_network_session_get_default());
  EXPECT_NE(session, webkit_web_view_get_network_session(page_->engineView()));

  auto js = [&](const std::string& script) {
    bool done = false;
    webkit_web_view_evaluate_javascript(
        web, script.c_str(), -1, nullptr, nullptr, nullptr,
        +[](GObject*, GAsyncResult*, gpointer d) { *static_cast<bool*>(d) = true; }, &done);
    sdk_->runUntil([&] { return done; });
  };
  ASSERT_TRUE(sdk_->runUntil([&] { return !webkit_web_view_is_loading(web); }));
  const auto& opened = sdk_->port().ui->openedLinks();
  const std::size_t before = opened.size();  // the browser itself
  js("setTimeout(function() { location.href = 'mailto:auto@example.com'; }, 1500); 0");
  js("var a = document.createElement('a'); a.href = 'smb://files.example/share';"
     "document.body.appendChild(a); a.click(); 0");
  js("var m = document.createElement('a'); m.href = 'mailto:user@example.com';"
     "document.body.appendChild(m); m.click(); 0");
  ASSERT_TRUE(sdk_->runUntil([&] { return opened.size() == before + 1; }));
  sdk_->runFor(2.0);  // the page's own timer has gone off by now
  ASSERT_EQ(opened.size(), before + 1);
  EXPECT_EQ(opened.back().target, "mailto:user@example.com");
  EXPECT_EQ(webkit_web_view_get_uri(web), server_->baseUrl() + "/quest/demo/next.html");
  root->dismiss(false, {});
  gtk_window_destroy(GTK_WINDOW(host));
}

// Answers "ping" with "pong:" + the body's text, errors on "fail", drops "drop".
struct Bridge : ScriptMessageHandlerWithReply, ScriptMessageHandler {
  void didReceive(WebView&, const ScriptMessage& m, Reply reply) override {
    const std::string text = m.body.asString() ? *m.body.asString() : "";
    if (text == "fail") return reply(std::nullopt, std::string("refused"));
    if (text == "drop") return;  // the reply goes unanswered: the page must not hang
    reply(Value("pong:" + text), std::nullopt);
  }
  void didReceive(WebView&, const ScriptMessage& m) override { bodies.push_back(m.body); }
  std::vector<Value> bodies;
};

TEST_F(WebEngine, ScriptMessagesArriveAndRepliesRoundTrip) {
  auto bridge = std::make_shared<Bridge>();
  page_->addScriptMessageHandlerWithReply(bridge, "bridge");
  page_->addScriptMessageHandler(bridge, "orvex");
  load(
      "<html><body><script>"
      "window.results = [];"
      "function ask(t) { return window.webkit.messageHandlers.bridge.postMessage(t)"
      "  .then(function(r) { results.push(String(r)); }, function(e) { results.push('E:' + e); }); "
      "}"
      "</script></body></html>");
  run("Promise.all([ask('a'), ask('fail'), ask('drop')]); 0");
  ASSERT_TRUE(sdk_->runUntil([&] {
    const Value r = run("results.length");
    return r.number() && *r.number() == 3;
  }));
  const Value results = run("results.sort()");
  EXPECT_EQ(results,
            Value(ValueArray{Value("E:Error: refused"), Value("pong:a"), Value("undefined")}));

  // Any shape arrives as a value; too deep or too large is refused; a flood keeps the loop going.
  run("var h = window.webkit.messageHandlers.orvex;"
      "h.postMessage({sig: 'x', payload: [1, 2]}); h.postMessage('text'); h.postMessage(7);"
      "h.postMessage(null);"
      "var deep = []; for (var i = 0; i < 2000; i++) deep = [deep]; h.postMessage(deep);"
      "h.postMessage('x'.repeat(20 * 1024 * 1024));"
      "for (var i = 0; i < 1000; i++) h.postMessage(i); 0");
  ASSERT_TRUE(sdk_->runUntil([&] { return bridge->bodies.size() >= 1004; }));
  sdk_->runFor(0.2);
  EXPECT_EQ(bridge->bodies.size(), 1004u);
  EXPECT_EQ(bridge->bodies[0],
            Value(ValueDict{{"sig", Value("x")}, {"payload", Value(ValueArray{1, 2})}}));
  EXPECT_EQ(bridge->bodies[1], Value("text"));
  EXPECT_EQ(bridge->bodies[3], Value());
  EXPECT_EQ(bridge->bodies.back(), Value(999));
  EXPECT_EQ(page_->refusedMessages(), 2u);

  // Removed handlers are gone from the page too.
  page_->removeScriptMessageHandler("orvex");
  EXPECT_EQ(run("typeof window.webkit.messageHandlers.orvex"), Value("undefined"));
}

TEST_F(WebEngine, FailuresAreTranslatedAndTheViewRecovers) {
  recorder_->cancelPrefixes.clear();
  // Nothing listens there: a connection failure, not a cancellation.
  const int closedPort = server_->port();
  server_->stop();
  page_->loadURL("http://127.0.0.1:" + std::to_string(closedPort) + "/", 0);
  ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("fail") == 1; }, 5))
      << ::testing::PrintToString(recorder_->events);
  EXPECT_EQ(recorder_->events.back(), "fail NSURLErrorDomain -1004");
  ASSERT_TRUE(server_->start());

  adserver::Fault slow;
  slow.delayMs = 4000;
  server_->setFault("/static/slow.html", slow);
  page_->loadURL(server_->baseUrl() + "/static/slow.html", 0.5);
  ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("fail") == 2; }));
  EXPECT_EQ(recorder_->events.back(), "fail NSURLErrorDomain -1001");

  page_->loadURL(server_->baseUrl() + "/static/slow.html", 0);
  sdk_->runFor(0.3);
  page_->stopLoading();
  ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("fail") == 3; }));
  EXPECT_EQ(recorder_->events.back(), "fail NSURLErrorDomain -999");

  load("<p>alive</p>");
  webkit_web_view_terminate_web_process(page_->engineView());
  ASSERT_TRUE(sdk_->runUntil([&] { return recorder_->count("fail") == 4; }));
  EXPECT_EQ(recorder_->events.back(), "fail WKErrorDomain 2");
  load("<p>again</p>");
  EXPECT_EQ(run("document.body.textContent"), Value("again"));

  // A page that reloads itself forever keeps the loop turning; releasing it leaves nothing.
  page_->loadURL(server_->baseUrl() + "/static/reload-loop.html", 0);
  sdk_->runFor(1.0);
  EXPECT_GT(recorder_->count("decide reload"), 2u);
  GObject* engine = G_OBJECT(page_->engineView());
  bool finalized = false;
  g_object_weak_ref(
      engine, [](gpointer flag, GObject*) { *static_cast<bool*>(flag) = true; }, &finalized);
  page_->evaluateJavaScript("1 + 1", [](auto, auto) { ADD_FAILURE() << "called after release"; });
  std::weak_ptr<gtk::GtkWebView> weak = page_;
  page_->removeFromSuperview();
  page_.reset();
  EXPECT_TRUE(weak.expired());
  sdk_->runFor(0.5);
  EXPECT_TRUE(finalized);
}

// Ad pages share web processes, a bounded group in each, and a site page runs apart: a crash
// fails exactly the pages of its process, which is how the test sees who shared with whom.
TEST_F(WebEngine, AdPagesShareProcessesInBoundedGroupsApartFromSites) {
  auto& ui = *sdk_->port().ui;
  const std::size_t perProcess = gtk::GtkOptions{}.adPagesPerWebProcess;
  struct Page {
    std::shared_ptr<gtk::GtkWebView> view;
    std::shared_ptr<PageRecorder> seen = std::make_shared<PageRecorder>();
    std::size_t crashes() const { return seen->count("fail WKErrorDomain 2"); }
  };
  std::vector<Page> pages;
  auto make = [&](WebContentGroup group) {
    WebViewConfiguration configuration;
    configuration.group = group;
    Page page{std::dynamic_pointer_cast<gtk::GtkWebView>(ui.makeWebView(configuration))};
    window_->addSubview(page.view);
    page.view->setNavigationDelegate(page.seen);
    page.view->loadHTMLString("<p>page</p>");
    EXPECT_TRUE(sdk_->runUntil([&] { return page.seen->count("finish") > 0; }));
    pages.push_back(page);
    return page;
  };
  // The fixture's page starts the first group and goes before it fills: the group lives on.
  load("<p>first</p>");
  make(WebContentGroup::ads);
  page_->removeFromSuperview();
  page_.reset();
  while (pages.size() < perProcess + 1) make(WebContentGroup::ads);
  const Page site = make(WebContentGroup::site);
  const Page secondGroup = pages[perProcess];
  EXPECT_EQ(webkit_web_view_get_network_session(pages[0].view->engineView()),
            webkit_web_view_get_network_session(secondGroup.view->engineView()));
  EXPECT_NE(webkit_web_view_get_network_session(pages[0].view->engineView()),
            webkit_web_view_get_network_session(site.view->engineView()));

  webkit_web_view_terminate_web_process(pages[1].view->engineView());
  ASSERT_TRUE(sdk_->runUntil([&] {
    return std::all_of(pages.begin(), pages.begin() + perProcess,
                       [](const Page& p) { return p.crashes() == 1; });
  }));
  sdk_->runFor(0.3);
  EXPECT_EQ(secondGroup.crashes(), 0u);
  EXPECT_EQ(site.crashes(), 0u);

  // A crashed page loads again; a new ad joins the live group, not the crashed one, though a
  // page of that one has gone.
  pages[2].view->loadHTMLString("<p>again</p>");
  ASSERT_TRUE(sdk_->runUntil([&] { return pages[2].seen->count("finish") == 2; }));
  pages[3].view->removeFromSuperview();
  pages[3].view.reset();
  const Page late = make(WebContentGroup::ads);
  webkit_web_view_terminate_web_process(secondGroup.view->engineView());
  ASSERT_TRUE(sdk_->runUntil([&] { return late.crashes() == 1 && secondGroup.crashes() == 1; }));
  sdk_->runFor(0.3);
  EXPECT_EQ(site.crashes(), 0u);
  EXPECT_EQ(pages[2].crashes(), 1u);
}

}  // namespace
}  // namespace orvex
