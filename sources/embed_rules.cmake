# Writes OUTPUT, a C++ source holding the bytes of every *.toml file in RULES_DIR, so the
# program carries its bundled book-source rules without reading them from disk.
file(GLOB rules RELATIVE "${RULES_DIR}" "${RULES_DIR}/*.toml")
list(SORT rules)
set(body "")
set(entries "")
set(index 0)
foreach(name IN LISTS rules)
  file(READ "${RULES_DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
  string(APPEND body "const unsigned char rule_${index}[] = {\n${bytes}0};\n")
  string(APPEND entries "    {\"${name}\", {reinterpret_cast<const char*>(rule_${index}), ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Made at build time from sources/rules/*.toml; edit those files, not this one.
#include \"sources/builtin_rules.h\"

namespace tovani {
namespace {
${body}} // namespace

const std::vector<BuiltinRuleFile>& builtin_rule_files() {
    static const std::vector<BuiltinRuleFile> files{
${entries}    };
    return files;
}

} // namespace tovani
")
# Only a changed file is replaced, so an unchanged rule set rebuilds nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
