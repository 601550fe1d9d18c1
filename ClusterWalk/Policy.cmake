# The retry policy and the shared rate limit: pure logic over a request's outcome, with no HTTP
# of its own. Included wherever it is first needed, so it is defined once only.
include_guard(GLOBAL)
find_package(Threads REQUIRED)

add_library(clusterwalk_policy STATIC
    ${CMAKE_CURRENT_LIST_DIR}/RetryPolicy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RateLimit.cpp)
# Linked into the shared walking library.
set_target_properties(clusterwalk_policy PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# Only the outcome's declaration is used from the client library, so its headers suffice.
target_include_directories(clusterwalk_policy PUBLIC ${PROJECT_SOURCE_DIR}
                                                     ${PROJECT_BINARY_DIR}/include)
target_link_libraries(clusterwalk_policy PUBLIC Boost::headers Threads::Threads)
cluster_warnings(clusterwalk_policy)
