// Layout check for the pages' screenshots: no two visible controls of one layer (the page, or an
// open dialog) overlap, and nothing reaches outside the viewport sideways. Shared by the browser
// tests of every page.
"use strict";

// Runs in the page; returns one sentence per problem.
function collectLayoutProblems() {
  const CONTROLS = "button, a[href], input, select, textarea, summary, [role='button']";
  const viewportWidth = document.documentElement.clientWidth;
  const problems = [];

  // checkVisibility also sees the contents of a closed details element as hidden.
  function shown(element) {
    if (!element.checkVisibility({ visibilityProperty: true, opacityProperty: true })) return false;
    const box = element.getBoundingClientRect();
    return box.width > 0 && box.height > 0;
  }

  function describe(element) {
    if (element.id) return "#" + element.id;
    const text = (element.textContent || element.getAttribute("aria-label") || "").trim().slice(0, 30);
    return element.tagName.toLowerCase() + (text ? " \"" + text + "\"" : "");
  }

  // A fixed box (an open dialog) is a layer of its own above the page: only controls of one
  // layer are compared.
  function layerOf(element) {
    for (let node = element; node && node !== document.body; node = node.parentElement) {
      if (window.getComputedStyle(node).position === "fixed") return node;
    }
    return document.body;
  }

  const controls = Array.from(document.querySelectorAll(CONTROLS)).filter(shown);
  const boxes = controls.map((control) => control.getBoundingClientRect());
  const layers = controls.map(layerOf);
  for (let i = 0; i < controls.length; i += 1) {
    for (let j = i + 1; j < controls.length; j += 1) {
      if (layers[i] !== layers[j]) continue;
      if (controls[i].contains(controls[j]) || controls[j].contains(controls[i])) continue;
      const width = Math.min(boxes[i].right, boxes[j].right) - Math.max(boxes[i].left, boxes[j].left);
      const height = Math.min(boxes[i].bottom, boxes[j].bottom) - Math.max(boxes[i].top, boxes[j].top);
      if (width > 1 && height > 1) problems.push(describe(controls[i]) + " overlaps " + describe(controls[j]));
    }
  }
  // A text wider than its own button spills over its neighbours.
  controls.filter((control) => control.matches("button, a.button")).forEach((control) => {
    if (control.scrollWidth > control.clientWidth + 1) problems.push(describe(control) + " is too narrow for its text");
  });
  document.querySelectorAll("body *").forEach((element) => {
    if (!shown(element)) return;
    const box = element.getBoundingClientRect();
    if (box.left < -1 || box.right > viewportWidth + 1) {
      problems.push(describe(element) + " reaches outside the viewport (" + Math.round(box.left) + " to " +
        Math.round(box.right) + " of " + viewportWidth + ")");
    }
  });
  if (document.documentElement.scrollWidth > viewportWidth) {
    problems.push("the page scrolls sideways (" + document.documentElement.scrollWidth + " of " + viewportWidth + ")");
  }
  return problems;
}

async function findLayoutProblems(page) {
  return page.evaluate(collectLayoutProblems);
}

module.exports = { findLayoutProblems };
