// korvane-test-browser URL: what a person's browser does with a provider's
// sign-in page, for the tests (KORVANE_BROWSER names it): asks for URL
// (https, KORVANE_CA_FILE trusted), follows the redirect the page answers
// with to korvane's listener on 127.0.0.1, and ends 0 where that answered.
// KORVANE_TEST_BROWSER=wrong-state changes the state on the way, as a page
// of someone else's would; KORVANE_TEST_BROWSER_LOG names a file that gets
// what it saw.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "http/form.h"
#include "http/http_client.h"

namespace {

std::string Variable(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

void Log(const std::string& text) {
  const std::string file = Variable("KORVANE_TEST_BROWSER_LOG");
  if (file.empty()) return;
  if (FILE* f = fopen(file.c_str(), "ab")) {
    fprintf(f, "%s\n", text.c_str());
    fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  NetHttpClient http(Variable("KORVANE_CA_FILE"), 10000);
  HttpRequest request;
  request.url = argv[1];
  HttpResponse page;
  Status status = http.Send(request, &page);
  std::string location = page.Header("Location");
  Log("page: " + std::to_string(page.status) + " " + status.Text());
  if (!status.IsOk() || page.status != 302 || location.empty()) {
    Log(page.body);
    return 1;
  }
  if (Variable("KORVANE_TEST_BROWSER") == "wrong-state") {
    const size_t mark = location.find('?');
    FormFields fields = ParseForm(location.substr(mark + 1));
    for (auto& field : fields)
      if (field.first == "state") field.second = "not-" + field.second;
    location = location.substr(0, mark + 1) + FormEncode(fields);
  }
  request.url = location;
  HttpResponse answer;
  status = http.Send(request, &answer);
  Log("redirect: " + std::to_string(answer.status) + " " + status.Text() + " " +
      answer.body);
  return status.IsOk() ? 0 : 1;
}
