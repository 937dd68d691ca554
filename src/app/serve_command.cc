// tallow serve: the grouping service over HTTP (cpp-httplib).
//
// The tables load once before the server listens; a failed load ends the
// program with status 5. Connections are served by a pool of threads; the
// grouping itself runs on at most --jobs of them at a time, each request
// with a grouper of its own over the shared tables (Service). SIGINT and
// SIGTERM stop the server: it takes no new connections, answers the
// requests in flight and ends with status 0.
#include <httplib.h>
#include <pthread.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

#include "app/batch.h"
#include "app/commands.h"
#include "app/service.h"
#include "tables/identity.h"

namespace tallow::app {
namespace {

struct ServeOptions {
  std::string tablesDirectory = ".";
  std::string listen = "127.0.0.1:8080";
  int jobs = 0;
  std::size_t bodyLimit = kDefaultBodyLimit;
  bool quiet = false;
};

// "HOST:PORT", "[V6]:PORT" or ":PORT" (loopback); false when it is neither.
bool SplitListen(const std::string& text, std::string* host, int* port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string h = text.substr(0, colon);
  const std::string p = text.substr(colon + 1);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h.empty()) h = "127.0.0.1";
  if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int n = std::stoi(p);
  if (n > 65535) return false;
  *host = h;
  *port = n;
  return true;
}

// What the log line of a request needs, kept by the thread that serves it
// from routing to the written answer.
struct RequestClock {
  std::chrono::steady_clock::time_point started;
  bool running = false;
  int64_t cases = 0;
};
thread_local RequestClock t_clock;

int Serve(const ServeOptions& options) {
  std::string host;
  int port = 0;
  if (!SplitListen(options.listen, &host, &port)) {
    std::fprintf(stderr, "tallow serve: --listen %s is not HOST:PORT (such as 127.0.0.1:8080)\n",
                 options.listen.c_str());
    return kExitUsage;
  }
  const std::string& dir = options.tablesDirectory;
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::fprintf(stderr,
                 "tallow serve: the table directory %s does not exist or is not a directory; "
                 "name the directory of the 22 table files with --tables DIR\n",
                 dir.c_str());
    return kExitTables;
  }
  std::string digest;
  Result<std::shared_ptr<const TableSet>> tables = LoadTablesWithDigest(dir, &digest);
  if (!tables.ok()) {
    std::fprintf(stderr,
                 "tallow serve: the tables in %s failed to load: %s; the server did not start "
                 "(tallow tables check %s says what is wrong)\n",
                 dir.c_str(), tables.message().c_str(), dir.c_str());
    return kExitTables;
  }
  const int workers = WorkerCount(options.jobs);
  const Service service(*tables, TablesJson(**tables, dir, digest), workers, options.bodyLimit);

  // The signals are taken by one thread of their own; every other thread,
  // the server's included, has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Server server;
  // Idle keep-alive connections hold a thread each, so there are more
  // connection threads than groupers; Service lets --jobs group at a time.
  const int connectionThreads = std::max(8, 4 * workers);
  server.new_task_queue = [connectionThreads] {
    return new httplib::ThreadPool(static_cast<std::size_t>(connectionThreads));
  };
  // SO_REUSEADDR only: the library's default adds SO_REUSEPORT, with which a
  // second server on the same port would start and share the connections.
  server.set_socket_options([](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // The head and the body of an answer go out in two writes; without
  // TCP_NODELAY the second waits for the client's delayed ACK (40 ms).
  server.set_tcp_nodelay(true);
  server.set_payload_max_length(options.bodyLimit);
  server.set_keep_alive_timeout(2);
  server.set_keep_alive_max_count(1000);

  const auto dispatch = [&service](const httplib::Request& req, httplib::Response& res) {
    ServiceRequest request;
    request.method = req.method;
    request.path = req.path;
    for (const auto& [name, value] : req.params) request.params.emplace_back(name, value);
    const std::string contentType = req.get_header_value("Content-Type");
    request.contentType = contentType;
    request.body = req.body;
    ServiceResponse answer = service.Handle(request);
    res.status = answer.status;
    if (!answer.allow.empty()) res.set_header("Allow", answer.allow);
    res.set_content(std::move(answer.body), answer.contentType.c_str());
    t_clock.cases = answer.cases;
  };
  for (const char* pattern : {R"(.*)"}) {
    server.Get(pattern, dispatch);
    server.Post(pattern, dispatch);
    server.Put(pattern, dispatch);
    server.Patch(pattern, dispatch);
    server.Delete(pattern, dispatch);
    server.Options(pattern, dispatch);
  }
  server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
    t_clock.started = std::chrono::steady_clock::now();
    t_clock.running = true;
    t_clock.cases = 0;
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // Answers the library gives itself (a body over the limit, a request it
  // cannot read) get the same JSON error body as the service's own.
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [&service](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    const std::string message =
        res.status == 413
            ? "the body is over the limit of " + std::to_string(service.bodyLimit()) + " bytes"
            : "the request cannot be answered (HTTP status " + std::to_string(res.status) + ")";
    res.set_content(Service::ErrorBody(message), "application/json");
    return httplib::Server::HandlerResponse::Handled;
  }));
  if (!options.quiet) {
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
      std::string micros = "-";
      if (t_clock.running) {
        micros = std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - t_clock.started)
                                    .count());
      }
      std::fprintf(stderr, "tallow serve: %s %s %d cases=%lld us=%s\n", req.method.c_str(),
                   req.path.c_str(), res.status, static_cast<long long>(t_clock.cases),
                   micros.c_str());
      t_clock.running = false;
      t_clock.cases = 0;
    });
  }

  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "tallow serve: cannot listen on %s: %s\n", options.listen.c_str(),
                 std::strerror(errno));
    return kExitListen;
  }
  const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::fprintf(stderr, "tallow serve: listening on http://%s:%d/ (tables %s, %d worker%s)\n",
               shownHost.c_str(), bound, dir.c_str(), workers, workers == 1 ? "" : "s");
  std::fflush(stderr);

  std::atomic<bool> done{false};
  std::atomic<int> caught{0};
  std::thread watcher([&] {
    const timespec tick{0, 100 * 1000 * 1000};
    while (!done.load()) {
      const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
      if (signal == SIGINT || signal == SIGTERM) {
        caught.store(signal);
        server.stop();
        return;
      }
    }
  });
  const bool listened = server.listen_after_bind();
  done.store(true);
  watcher.join();
  if (caught.load() != 0) {
    std::fprintf(stderr, "tallow serve: stopped by %s; the requests in flight were answered\n",
                 caught.load() == SIGINT ? "SIGINT" : "SIGTERM");
    return kExitOk;
  }
  if (!listened) {
    std::fprintf(stderr, "tallow serve: the server on %s stopped: %s\n", options.listen.c_str(),
                 std::strerror(errno));
    return kExitListen;
  }
  return kExitOk;
}

}  // namespace

void AddServeCommand(CLI::App& app, int* exitStatus) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* serve = app.add_subcommand(
      "serve", "Answer grouping requests over HTTP: POST /group and /explain, GET /health, "
               "/tables, /version, and a page at / (README: tallow serve)");
  serve->add_option("--tables", options->tablesDirectory,
                    "Directory of the twenty-two table files, loaded once at start")
      ->capture_default_str();
  serve->add_option("--listen", options->listen,
                    "Address and port, HOST:PORT ([::1]:PORT for IPv6; port 0 takes a free one)")
      ->capture_default_str();
  serve->add_option("--jobs", options->jobs,
                    "Requests grouped at the same time, each on its own grouper (default: one "
                    "per core)")
      ->check(CLI::Range(1, 64));
  serve->add_option("--max-body", options->bodyLimit,
                    "Largest request body in bytes; a larger one is answered 413")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 30));
  serve->add_flag("--quiet", options->quiet, "No log line per request on standard error");
  serve->callback([options, exitStatus] { *exitStatus = Serve(*options); });
}

}  // namespace tallow::app
