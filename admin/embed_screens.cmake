# Writes OUTPUT, a C++ source that holds each file of SCREENS ("|"-separated
# paths) as bytes, for DefaultScreens().
string(REPLACE "|" ";" screens "${SCREENS}")
set(arrays "")
set(entries "")
foreach(path IN LISTS screens)
  get_filename_component(name "${path}" NAME)
  string(MAKE_C_IDENTIFIER "k_${name}" id)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "constexpr char ${id}[] = {${bytes}};\n")
  string(APPEND entries "    {\"${name}\", std::string_view(${id}, sizeof ${id})},\n")
endforeach()
file(WRITE "${OUTPUT}.new"
  "// Made from the screens/ folder when the tool is built.\n"
  "#include \"admin/default_screens.h\"\n\n"
  "namespace tellarium::admin {\nnamespace {\n\n${arrays}\n"
  "constexpr DefaultScreen kScreens[] = {\n${entries}};\n\n}  // namespace\n\n"
  "std::span<const DefaultScreen> DefaultScreens() { return kScreens; }\n\n"
  "}  // namespace tellarium::admin\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
