#!/usr/bin/env python3
"""The peer a scripter would pick: Python's standard library on the same pages.

  python_peer.py parse FOLDER REPEATS   median seconds of json.loads alone and of json.loads
                                        plus building the same records as dicts, per page file
  python_peer.py walk URL CA PATH       one kept-alive connection walks a directory's pages,
                                        building the records; prints "<seconds> <entries>"
"""
import http.client
import json
import ssl
import statistics
import sys
import time
import urllib.parse
from datetime import datetime, timezone


def to_time(text):
    return int(datetime.strptime(text[:19], "%Y-%m-%dT%H:%M:%S").replace(tzinfo=timezone.utc).timestamp())


def to_number(text):
    try:
        return int(text, 0)
    except ValueError:
        return int(text, 8) if text.startswith("0") else 0


def directory_records(page):
    return [{"path": e["path"], "is_directory": e["type"] == "FS_FILE_TYPE_DIRECTORY",
             "id": to_number(e["id"]), "mode": to_number(e["mode"]), "owner": to_number(e["owner"]),
             "group": to_number(e["group"]), "size": to_number(e["size"]),
             "change_time": to_time(e["change_time"]),
             "modification_time": to_time(e["modification_time"]),
             "creation_time": to_time(e["creation_time"])} for e in page["files"]]


def diff_records(page):
    return [{"path": e["path"], "op": e["op"], "is_directory": e["path"].endswith("/")}
            for e in page["entries"]]


def snapshot_records(page):
    return [{"in_delete": s["in_delete"], "name": s["name"], "timestamp": to_time(s["timestamp"]),
             "source_file_id": to_number(s["source_file_id"]),
             "created_by_policy": s["created_by_policy"], "expiration": s["expiration"],
             "directory_name": s["directory_name"], "id": s["id"]} for s in page["entries"]]


PAGES = {"directory_page.json": directory_records, "diff_page.json": diff_records,
         "snapshot_listing.json": snapshot_records}


def median_seconds(work, repeats):
    times = []
    for _ in range(repeats):
        started = time.perf_counter()
        work()
        times.append(time.perf_counter() - started)
    return statistics.median(times)


def parse(folder, repeats):
    for name, records in PAGES.items():
        with open(f"{folder}/{name}", encoding="utf-8") as page_file:
            text = page_file.read()
        loads = median_seconds(lambda: json.loads(text), repeats)
        build = median_seconds(lambda: records(json.loads(text)), repeats)
        print(f"{name} {loads:.6f} {build:.6f}")


def walk(url, ca, path):
    parts = urllib.parse.urlsplit(url)
    if parts.scheme == "https":
        connection = http.client.HTTPSConnection(parts.hostname, parts.port,
                                                 context=ssl.create_default_context(cafile=ca))
    else:
        connection = http.client.HTTPConnection(parts.hostname, parts.port)
    headers = {"Content-Type": "application/json"}
    connection.request("POST", "/v1/session/login",
                       json.dumps({"password": "admin", "username": "admin"}), headers)
    headers["Authorization"] = "Bearer " + json.loads(connection.getresponse().read())["bearer_token"]
    started = time.perf_counter()
    link = "/v1/files/" + urllib.parse.quote(path, safe="") + "/entries/"
    entries = 0
    while link:
        connection.request("GET", link, headers=headers)
        page = json.loads(connection.getresponse().read())
        entries += len(directory_records(page))
        link = page["paging"]["next"]
    print(f"{time.perf_counter() - started:.6f} {entries}")


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "parse":
        parse(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) == 5 and sys.argv[1] == "walk":
        walk(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        sys.exit(__doc__)
