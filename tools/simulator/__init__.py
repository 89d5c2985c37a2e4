"""Simulated discovery devices for the lab network (see tools/simulate)."""
