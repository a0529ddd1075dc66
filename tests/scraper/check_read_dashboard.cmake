# Runs ormix-read-dashboard on the saved pages and checks its JSON.
function(read_page out_json out_code)
    execute_process(COMMAND ${TOOL} ${ARGN} OUTPUT_VARIABLE json RESULT_VARIABLE code)
    set(${out_json} "${json}" PARENT_SCOPE)
    set(${out_code} "${code}" PARENT_SCOPE)
endfunction()

read_page(json code --base http://blog.example/owner/center/dashboard ${DATA}/dashboard.html)
if(NOT code EQUAL 0)
    message(FATAL_ERROR "read failed (${code}): ${json}")
endif()
string(JSON count GET "${json}" todayCount)
string(JSON n LENGTH "${json}" comments)
string(JSON first GET "${json}" comments 0 text)
string(JSON link GET "${json}" comments 1 link)
if(NOT count EQUAL 1234 OR NOT n EQUAL 3 OR NOT first STREQUAL "좋은 글 감사합니다 & 잘 보고 갑니다"
   OR NOT link STREQUAL "http://blog.example/owner/456?x=1#comment789")
    message(FATAL_ERROR "unexpected reading: ${json}")
endif()

# The EUC-KR copy reads the same.
read_page(euc code --base http://blog.example/owner/center/dashboard ${DATA}/dashboard-euckr.html)
string(JSON eucFirst GET "${euc}" comments 0 text)
string(JSON encoding GET "${euc}" encoding)
if(NOT code EQUAL 0 OR NOT eucFirst STREQUAL first OR NOT encoding STREQUAL "EUC-KR")
    message(FATAL_ERROR "EUC-KR page read differently: ${euc}")
endif()

# A page the parser aborts on ends only the page reader, and the JSON says why.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/parser-aborts.html
    "<table><svg><select><foreignObject><select><th>")
read_page(refused code ${CMAKE_CURRENT_BINARY_DIR}/parser-aborts.html)
string(JSON why GET "${refused}" notParsed)
if(NOT code EQUAL 1 OR NOT why MATCHES "SIGABRT")
    message(FATAL_ERROR "a page the parser aborts on was not reported: ${refused}")
endif()

# Pages that are not dashboards: ok is false, the exit code says so and the reason names
# what was looked for and not found.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/not-a-dashboard.html "<p>nothing here</p>")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/counter-without-day.html
    "<div id=counter>1234</div><div id=new></div>")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/no-new-area.html "<meta charset=utf-8><div id=counter>오늘 5명</div>")
foreach(case "not-a-dashboard|id .counter."
             "counter-without-day|no .오늘. with .명."
             "no-new-area|id .new.")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 name)
    list(GET case 1 wanted)
    read_page(bad code ${CMAKE_CURRENT_BINARY_DIR}/${name}.html)
    string(JSON ok GET "${bad}" ok)
    string(JSON reason ERROR_VARIABLE noReason GET "${bad}" reason)
    if(NOT code EQUAL 1 OR ok OR noReason OR NOT reason MATCHES "${wanted}")
        message(FATAL_ERROR "${name}: not reported as unread with its reason: ${bad}")
    endif()
endforeach()
