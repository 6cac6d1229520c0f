// Reading SVG documents in tests: parsed by expat (a document that is no
// well-formed XML fails), the elements in document order with their attributes and
// text, and the vertices of the paths.
#pragma once

#include <expat.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace tarmic::testing {

struct SvgElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;  // character data directly inside (text elements)
  std::string Attr(const std::string& key) const {
    auto it = attributes.find(key);
    return it == attributes.end() ? std::string() : it->second;
  }
};

struct SvgDocument {
  bool wellFormed = false;
  std::string error;
  std::vector<SvgElement> elements;
  std::vector<const SvgElement*> Named(const std::string& name) const {
    std::vector<const SvgElement*> out;
    for (const SvgElement& e : elements)
      if (e.name == name) out.push_back(&e);
    return out;
  }
};

inline SvgDocument ParseSvg(const std::string& text) {
  struct State {
    SvgDocument doc;
    std::vector<std::size_t> open;
  } state;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* s = static_cast<State*>(data);
        SvgElement e;
        e.name = name;
        for (int i = 0; attributes[i]; i += 2) e.attributes[attributes[i]] = attributes[i + 1];
        s->open.push_back(s->doc.elements.size());
        s->doc.elements.push_back(std::move(e));
      },
      [](void* data, const XML_Char*) { static_cast<State*>(data)->open.pop_back(); });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* chars, int length) {
    auto* s = static_cast<State*>(data);
    if (!s->open.empty()) s->doc.elements[s->open.back()].text.append(chars, static_cast<std::size_t>(length));
  });
  state.doc.wellFormed = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
  if (!state.doc.wellFormed)
    state.doc.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                      std::to_string(XML_GetCurrentLineNumber(parser));
  XML_ParserFree(parser);
  return state.doc;
}

struct SvgPoint {
  double x = 0, y = 0;
};

// The vertices of a path's "d" of absolute M and L commands, each subpath apart.
inline std::vector<std::vector<SvgPoint>> PathVertices(const std::string& d) {
  std::vector<std::vector<SvgPoint>> subpaths;
  const char* p = d.c_str();
  while (*p) {
    while (*p == ' ') ++p;
    if (!*p) break;
    const char command = *p++;
    char* end = nullptr;
    const double x = std::strtod(p, &end);
    const double y = std::strtod(end, &end);
    p = end;
    if (command == 'M' || subpaths.empty()) subpaths.emplace_back();
    subpaths.back().push_back(SvgPoint{x, y});
  }
  return subpaths;
}

inline double Number(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

}  // namespace tarmic::testing
