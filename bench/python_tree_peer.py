#!/usr/bin/env python3
"""The whole-tree walk a scripter would write with Python's standard library.

  python_tree_peer.py URL CA PATH CONNECTIONS OUTPUT

A pool of CONNECTIONS threads, each with its own kept-alive http.client connection, takes
directory links from one shared queue, reads each page with json.loads and writes every entry
to OUTPUT as one JSON line with the keys and value types of `clusterctl find -o jsonl`. Prints
the number of entries written. CA is "none" for plain HTTP.
"""
import http.client
import json
import queue
import ssl
import sys
import threading
import urllib.parse

DIRECTORY = "FS_FILE_TYPE_DIRECTORY"


def entries_link(path):
    return "/v1/files/" + urllib.parse.quote(path, safe="") + "/entries/"


def connect(url, ca):
    parts = urllib.parse.urlsplit(url)
    if parts.scheme == "https":
        return http.client.HTTPSConnection(parts.hostname, parts.port,
                                           context=ssl.create_default_context(cafile=ca))
    return http.client.HTTPConnection(parts.hostname, parts.port)


def login(url, ca):
    connection = connect(url, ca)
    connection.request("POST", "/v1/session/login",
                       json.dumps({"username": "admin", "password": "admin"}),
                       {"Content-Type": "application/json"})
    token = json.loads(connection.getresponse().read())["bearer_token"]
    connection.close()
    return token


def utc_seconds(text):
    """"2024-10-16T03:50:42.211192869Z" to whole seconds, as clusterctl shows times."""
    return text[:19] + "Z"


def record(entry):
    """The fields clusterctl shows for an entry, in its order: a listing's mode is the octal
    text of the value, and every entry that is not a directory is a file to it."""
    return {"type": "directory" if entry["type"] == DIRECTORY else "file",
            "mode": f"{int(entry['mode'], 8):04o}", "owner": int(entry["owner"]),
            "group": int(entry["group"]), "size": int(entry["size"]), "id": int(entry["id"]),
            "change_time": utc_seconds(entry["change_time"]),
            "creation_time": utc_seconds(entry["creation_time"]),
            "modification_time": utc_seconds(entry["modification_time"]), "path": entry["path"]}


class Walk:
    def __init__(self, url, ca, token, output):
        self.url, self.ca, self.output = url, ca, output
        self.headers = {"Authorization": "Bearer " + token}
        self.links = queue.Queue()
        self.lock = threading.Lock()
        self.entries = 0
        self.failure = None

    def worker(self):
        connection = connect(self.url, self.ca)
        while (link := self.links.get()) is not None:
            try:
                if self.failure is None:
                    self.page(connection, link)
            except Exception as error:  # reported once the pool has stopped
                self.failure = self.failure or error
            finally:
                self.links.task_done()
        connection.close()

    def page(self, connection, link):
        connection.request("GET", link, headers=self.headers)
        response = connection.getresponse()
        body = response.read()
        if response.status != 200:
            raise RuntimeError(f"GET {link}: HTTP {response.status}")
        page = json.loads(body)
        lines = []
        for entry in page["files"]:
            if entry["type"] == DIRECTORY:
                self.links.put(entries_link(entry["path"]))
            lines.append(json.dumps(record(entry), ensure_ascii=False, separators=(",", ":")))
        if page["paging"]["next"]:
            self.links.put(page["paging"]["next"])
        text = "".join(line + "\n" for line in lines)
        with self.lock:
            self.output.write(text)
            self.entries += len(lines)

    def run(self, path, connections):
        self.links.put(entries_link(path))
        pool = [threading.Thread(target=self.worker) for _ in range(connections)]
        for thread in pool:
            thread.start()
        self.links.join()
        for thread in pool:
            self.links.put(None)
        for thread in pool:
            thread.join()
        if self.failure is not None:
            sys.exit(f"python_tree_peer: {self.failure}")
        return self.entries


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    url, ca, path, connections, output_path = sys.argv[1:]
    ca = None if ca == "none" else ca
    with open(output_path, "w", encoding="utf-8") as output:
        walk = Walk(url, ca, login(url, ca), output)
        print(walk.run(path, int(connections)))


if __name__ == "__main__":
    main()
