// zm workbench: serves the workbench page (built by the wasm preset) on the
// loopback interface, with a design to start from. It sends the headers that
// make the page cross-origin isolated, so that the page can share its stop
// flag with the engine's worker and Stop ends a render in place.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "lib/base/json_text.h"
#include "lib/design/design_io.h"
#include "lib/design/design_json.h"

namespace zm::cli {
namespace {

namespace fs = std::filesystem;

// The page's folder: the one given, else the wasm build beside this tool's
// build (build/tool/tools/zm and build/wasm/web in a source tree).
fs::path PageFolder(const std::string& given) {
  if (!given.empty()) return given;
  std::error_code ignored;
  const fs::path self = fs::read_symlink("/proc/self/exe", ignored);
  return self.parent_path().parent_path().parent_path() / "wasm" / "web";
}

std::string ContentType(const fs::path& path) {
  static const std::map<std::string, std::string> types = {{".html", "text/html; charset=utf-8"},
                                                           {".js", "text/javascript"},
                                                           {".css", "text/css"},
                                                           {".wasm", "application/wasm"},
                                                           {".json", "application/json"},
                                                           {".svg", "image/svg+xml"}};
  const auto type = types.find(path.extension().string());
  return type == types.end() ? "application/octet-stream" : type->second;
}

void SendAll(int socket, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += size_t(n);
  }
}

void Respond(int socket, int status, const std::string& type, const std::string& body) {
  std::ostringstream head;
  head << "HTTP/1.1 " << status << (status == 200 ? " OK" : " Not Found") << "\r\n"
       << "Content-Type: " << type << "\r\nContent-Length: " << body.size() << "\r\n"
       << "Cross-Origin-Opener-Policy: same-origin\r\n"
       << "Cross-Origin-Embedder-Policy: require-corp\r\n"
       << "Cache-Control: no-cache\r\nConnection: close\r\n\r\n";
  SendAll(socket, head.str() + body);
}

// One GET per connection; anything outside the page's folder, or not a
// plain file in it, is not found.
void Serve(int socket, const fs::path& folder, const std::string& designJson) {
  std::string request(8192, '\0');
  const ssize_t n = recv(socket, request.data(), request.size(), 0);
  if (n <= 0) return;
  request.resize(size_t(n));
  std::istringstream line(request);
  std::string method, target;
  line >> method >> target;
  target = target.substr(0, target.find_first_of("?#"));
  if (target == "/") target = "/index.html";
  if (method != "GET" || target.find("..") != std::string::npos ||
      target.find('\\') != std::string::npos) {
    return Respond(socket, 404, "text/plain", "not found\n");
  }
  if (target == "/design.json" && !designJson.empty()) {
    return Respond(socket, 200, "application/json", designJson);
  }
  const fs::path path = folder / target.substr(1);
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return Respond(socket, 404, "text/plain", "not found\n");
  std::ifstream in(path, std::ios::binary);
  Respond(socket, 200, ContentType(path),
          {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
}

}  // namespace

int Workbench(const std::string& design, const std::string& pageFolder, int port) {
  const fs::path folder = PageFolder(pageFolder);
  std::error_code error;
  if (!fs::is_regular_file(folder / "index.html", error)) {
    throw ToolError(
        "no workbench page in " + folder.string() +
        ": build it with cmake --preset wasm && cmake --build build/wasm, or give --page");
  }
  // Read through the tool, so a design file or any JSON form opens in the
  // page as the tool's JSON, and a bad one is refused here.
  const std::string designJson =
      design.empty() ? "" : FormatJson(DesignToJson(*LoadDesign(design)));

  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) throw ToolError("workbench: cannot open a socket");
  const int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(listener);
    throw ToolError("workbench: cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  std::printf("zm workbench: http://127.0.0.1:%d/%s\n", ntohs(address.sin_port),
              designJson.empty() ? "" : "?design=design.json");
  std::printf("serving %s; Ctrl+C ends it\n", folder.string().c_str());
  std::fflush(stdout);
  for (;;) {
    const int connection = accept(listener, nullptr, nullptr);
    if (connection < 0) continue;
    Serve(connection, folder, designJson);
    close(connection);
  }
}

}  // namespace zm::cli
