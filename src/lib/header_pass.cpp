#include "src/lib/header_pass.hpp"

#include "vcd/declarations.hpp"
#include "vcd/file.hpp"
#include "vcd/fst_reader.hpp"
#include "vcd/header_source.hpp"
#include "vcd/scope_lines.hpp"

namespace quarnel {

namespace {

// Builds the full name of every variable while the declarations are read.
struct NameBuilder {
  ParsedHeader& parsed;
  std::string prefix;                     // the open scopes, each followed by "."
  std::vector<std::size_t> prefix_sizes;  // the prefix's size before each open scope

  void scope(const vcd::cmd::ScopeDecl& decl) {
    prefix_sizes.push_back(prefix.size());
    // An empty name (extended dialect) adds nothing to the names below it.
    if (decl.name.empty()) return;
    prefix += decl.name;
    prefix += '.';
  }
  void upscope() {
    prefix.resize(prefix_sizes.back());
    prefix_sizes.pop_back();
  }
  void var(const vcd::cmd::VarDecl& decl) {
    std::string& text = parsed.names.text;
    text += prefix;
    text += decl.reference;
    if (decl.reference_index) vcd::append_text(text, *decl.reference_index);
    parsed.names.ends.push_back(text.size());
    parsed.declarations.push_back(Declaration{decl.id_code, decl.width, decl.var_type});
  }
  void timescale(const vcd::Timescale& value) { parsed.timescale = value; }
  void comment(std::string_view /*text*/) {}
  void date(std::string_view /*text*/) {}
  void version(std::string_view /*text*/) {}
};

// Hands the hierarchy of an FST file to the name builder as the VCD
// declarations of the same dump would be: scope names escaped as the reader
// escapes them, a name's bit range taken apart from the reference, each
// handle the identifier code of its variable.
struct FstDeclarations final : vcd::fst::HierarchyVisitor {
  NameBuilder& builder;
  std::string scope_name;

  explicit FstDeclarations(NameBuilder& b) : builder(b) {}
  void scope(std::string_view name) override {
    scope_name.clear();
    if (vcd::scope_name_needs_backslash(name) && !name.empty()) scope_name += '\\';
    scope_name += name;
    builder.scope(vcd::cmd::ScopeDecl{vcd::ScopeType::Module, scope_name});
  }
  void upscope() override { builder.upscope(); }
  void var(std::string_view name, std::uint8_t type, std::uint32_t width,
           std::uint32_t handle) override {
    std::string_view reference = name;
    std::optional<vcd::ReferenceIndex> index;
    if (const auto space = name.rfind(' '); space != std::string_view::npos) {
      if (auto parsed = vcd::parse_reference_index(name.substr(space + 1))) {
        reference = name.substr(0, space);
        index = *parsed;
      }
    }
    const auto var_type =
        vcd::parse_var_type(vcd::fst::var_type_word(type)).value_or(vcd::VarType::Other);
    builder.var(vcd::cmd::VarDecl{var_type, width, vcd::IdCode{handle - 1}, reference, index});
  }
};

// The tick of an FST file, 10 to the power `exponent` seconds, when a VCD
// timescale can say it.
std::optional<vcd::Timescale> fst_timescale(int exponent) {
  if (exponent > 2 || exponent < -15) return std::nullopt;
  const int unit = exponent >= 0 ? 0 : -((2 - exponent) / 3) * 3;
  std::uint32_t magnitude = 1;
  for (int e = unit; e < exponent; ++e) magnitude *= 10;
  return vcd::Timescale{magnitude, static_cast<vcd::TimescaleUnit>(-unit / 3)};
}

}  // namespace

namespace {

// Drops every declaration that repeats an earlier one's name and identifier
// code. A name repeated with another code is kept, for the index to refuse.
void drop_repeated_declarations(ParsedHeader& parsed) {
  if (!find_repeated_name(parsed.names)) return;
  SignalNames names;
  std::vector<Declaration> declarations;
  NameTable table(parsed.names.size());
  const auto name_at = [&](std::size_t i) { return names[i]; };
  for (std::size_t i = 0; i < parsed.names.size(); ++i) {
    const std::string_view name = parsed.names[i];
    const Declaration& declaration = parsed.declarations[i];
    if (!table.insert(name, names.size(), name_at)) {
      const auto earlier = table.find(name, name_at);
      if (earlier && declarations[*earlier].id_code == declaration.id_code) continue;
    }
    names.push_back(name);
    declarations.push_back(declaration);
  }
  parsed.names = std::move(names);
  parsed.declarations = std::move(declarations);
}

// The header of an FST file: its declarations, from its hierarchy.
Result<ParsedHeader> fst_header(std::unique_ptr<vcd::fst::Reader> fst) {
  ParsedHeader parsed{{}, {}, fst_timescale(fst->header().timescale), 0, nullptr, nullptr};
  NameBuilder builder{parsed, {}, {}};
  FstDeclarations declarations(builder);
  if (auto read = fst->read_hierarchy(declarations); !read)
    return std::unexpected(VcdError::io(read.error()));
  parsed.fst = std::move(fst);
  drop_repeated_declarations(parsed);
  return parsed;
}

}  // namespace

Result<ParsedHeader> read_header(const std::string& path, const CallContext& context) {
  const vcd::Dialect dialect = context.dialect;
  const vcd::Interrupt* interrupt = context.interrupt;
  const auto scan_error = [](const vcd::ReaderError& error) {
    if (error.kind == vcd::ReaderError::Kind::MissingEndDefinitions)
      return VcdError{VcdError::Kind::MissingEndDefinitions, {}};
    return VcdError::io(error);
  };
  if (dialect == vcd::Dialect::extended) {
    auto fst = vcd::fst::Reader::open_if_fst(path, interrupt);
    if (!fst) return std::unexpected(VcdError::io(fst.error()));
    if (*fst) return fst_header(std::move(*fst));
  }
  auto file = vcd::File::open_read(path, interrupt, vcd::reads_compressed(dialect));
  if (!file) return std::unexpected(VcdError::io(file.error()));
  if (dialect == vcd::Dialect::extended && vcd::fst::may_be_fst(file->head())) {
    auto fst = vcd::fst::Reader::open_piped(*file, interrupt);
    if (!fst) return std::unexpected(scan_error(fst.error()));
    return fst_header(std::move(*fst));
  }
  vcd::Parser<vcd::HeaderSource> parser{vcd::HeaderSource(std::move(*file), interrupt), dialect};
  parser.drop_texts();
  vcd::HeaderSource& source = parser.source();
  ParsedHeader parsed{{}, {}, std::nullopt, 0, nullptr, nullptr};
  NameBuilder builder{parsed, {}, {}};
  if (auto read = vcd::read_declarations(parser, builder); !read) {
    // A file without the marker, or one that cannot be read to it, fails
    // so whatever its text before.
    if (auto failed = source.finish_scan()) return std::unexpected(scan_error(*failed));
    return std::unexpected(VcdError::parse(read.error()));
  }
  auto body_offset = source.body_offset(parser.cursor());
  if (!body_offset) return std::unexpected(scan_error(body_offset.error()));
  parsed.body_offset = *body_offset;
  if (!source.reopenable())
    parsed.rest = std::make_unique<vcd::FileRest>(source.take_rest(*body_offset));
  if (dialect == vcd::Dialect::extended) drop_repeated_declarations(parsed);
  return parsed;
}

Result<Dump> open_dump(const std::string& path, const CallContext& context) {
  auto parsed = read_header(path, context);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  std::vector<Signal> signals;
  signals.reserve(parsed->declarations.size());
  for (std::size_t i = 0; i < parsed->declarations.size(); ++i) {
    const Declaration& d = parsed->declarations[i];
    signals.push_back(Signal{std::string(parsed->names[i]), d.id_code, d.width, d.var_type});
  }
  std::vector<Bus> buses;
  if (context.buses) buses = find_buses(signals);
  for (const Bus& bus : buses) {
    signals.push_back(Signal{bus.name, bus.code, static_cast<std::uint32_t>(bus.bits.size()),
                             vcd::VarType::Wire});
  }
  auto index = SignalIndex::build(signals);
  if (!index) return std::unexpected(std::move(index.error()));
  return Dump{.path = path,
              .signals = std::move(signals),
              .buses = std::move(buses),
              .timescale = parsed->timescale,
              .index = std::move(*index),
              .body_offset = parsed->body_offset,
              .rest = std::move(parsed->rest),
              .fst = std::move(parsed->fst)};
}

}  // namespace quarnel
