#!/usr/bin/python3
"""Walk a whole tree and print each path, then the count: ./walk_tree.py PATH

The cluster and the login come from CLUSTER_URL, CLUSTER_USER and CLUSTER_PASSWORD; a private
CA from CLUSTER_CACERT (a name of this example's)."""

import os
import sys

import clusterclient


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: walk_tree.py PATH")
    url = os.environ.get("CLUSTER_URL", "https://127.0.0.1:8000")
    try:
        with clusterclient.Session(url, ca_file=os.environ.get("CLUSTER_CACERT")) as session:
            walk = session.walk(sys.argv[1])
            for page in walk:
                for entry in page:
                    print(entry.path)
    except clusterclient.ClusterError as error:
        sys.exit("walk_tree.py: %s" % error)
    summary = walk.summary
    print("%d entries in %d directories" % (summary.entries, summary.directories),
          file=sys.stderr)
    if not summary.complete:
        sys.exit("walk_tree.py: %d directories failed" % len(summary.failed))


if __name__ == "__main__":
    main()
