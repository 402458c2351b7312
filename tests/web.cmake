# The web back end's windows as the page gets them and what the page's user does to them: that
# half of the web back end does not talk to the page, so it is built and tested natively too.
morva_test(web_tests ${CMAKE_CURRENT_SOURCE_DIR}/web morva_platform)
target_sources(web_tests PRIVATE ${PROJECT_SOURCE_DIR}/platform/web/webui.cpp)
