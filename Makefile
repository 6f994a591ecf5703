# Entry points that work on a fresh Debian machine: `make run` and `make test`.
# Missing Debian packages are installed when running as root; otherwise they
# are named and the make stops.

PACKAGES := cmake ninja-build g++ pkg-config libsqlite3-dev libxml2-dev zlib1g-dev \
            libboost-dev libboost-regex-dev libboost-filesystem-dev rapidjson-dev \
            libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev \
            clang libclang-rt-14-dev binutils pci.ids \
            kbd console-data uuid-dev libssl-dev
OPTIONAL_PACKAGES := ccache

HOSTCTL_ARGS ?= host print

.PHONY: all deps run test bench build build-test fuzz clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing $(OPTIONAL_PACKAGES) >/dev/null || exit 1; \
	  else \
	    echo "Missing Debian packages:$$missing"; echo "Install them with: sudo apt-get install$$missing"; exit 1; \
	  fi; \
	fi

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release

# Only the tool and the library: running needs neither tests nor benchmarks.
run: deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target hostctl
	@# A default host that was never made gets made and booted first, so it has its network.
	@root="$${TARNCTL_ROOT:-$${XDG_DATA_HOME:-$$HOME/.local/share}/tarnctl/host}"; \
	  test -d "$$root/var/lib/tarnsim" || ./build/release/hostctl sim init >/dev/null
	./build/release/hostctl $(HOSTCTL_ARGS)

build-test: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan

test: build-test
	ctest --preset asan

# Runs every benchmark and rewrites the README's performance table from their RATIO lines.
# Builds only the benchmark programs and the library they link.
bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target benchmarks
	cmake -DBENCH_DIR=build/release/bench -DREADME=README.md -P bench/report.cmake

clean:
	rm -rf build
