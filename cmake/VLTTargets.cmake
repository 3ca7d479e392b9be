# vlt_library(NAME SOURCES ... DEPS ...): a static library of the engine or the application.
# While a layer has no sources yet it is an interface library, so dependants link it already.
function(vlt_library NAME)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
  if(L_SOURCES)
    add_library(${NAME} STATIC ${L_SOURCES})
    target_include_directories(${NAME} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${NAME} PUBLIC ${L_DEPS})
  else()
    add_library(${NAME} INTERFACE)
    target_include_directories(${NAME} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${NAME} INTERFACE ${L_DEPS})
  endif()
endfunction()
