# Defines the imported target wx_base from wx-config: the cross build made by
# scripts/build-wx-mingw.sh for Windows, the system's wxWidgets otherwise.
if(WIN32)
  set(_wx_default_config "${PROJECT_SOURCE_DIR}/.cache/wx-mingw/bin/wx-config")
  set(_wx_args --static)
else()
  set(_wx_default_config wx-config)
  set(_wx_args)
endif()
set(WX_CONFIG "${_wx_default_config}" CACHE FILEPATH "wx-config of the wxWidgets base library")

execute_process(COMMAND ${WX_CONFIG} ${_wx_args} --cxxflags base
                OUTPUT_VARIABLE _wx_cxxflags OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE _wx_result)
if(NOT _wx_result EQUAL 0)
  message(FATAL_ERROR "wx-config failed (${WX_CONFIG}); run scripts/build-wx-mingw.sh for the Windows build")
endif()
execute_process(COMMAND ${WX_CONFIG} ${_wx_args} --libs base
                OUTPUT_VARIABLE _wx_libs OUTPUT_STRIP_TRAILING_WHITESPACE)

separate_arguments(_wx_cxxflags UNIX_COMMAND "${_wx_cxxflags}")
separate_arguments(_wx_libs UNIX_COMMAND "${_wx_libs}")

add_library(wx_base INTERFACE)
target_compile_options(wx_base INTERFACE ${_wx_cxxflags})
target_link_libraries(wx_base INTERFACE ${_wx_libs})
