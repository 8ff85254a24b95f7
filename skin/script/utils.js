// Small page helpers shared by the timeline pages.

// Page X of an element's left edge.
function findPosX(element) {
  if (typeof element === 'string') element = document.getElementById(element);
  if (!element || !element.getBoundingClientRect) return 0;
  return Math.round(element.getBoundingClientRect().left + window.scrollX);
}

// Page Y of an element's top edge.
function findPosY(element) {
  if (typeof element === 'string') element = document.getElementById(element);
  if (!element || !element.getBoundingClientRect) return 0;
  return Math.round(element.getBoundingClientRect().top + window.scrollY);
}

// Every element of the tag ("*" for any) under root (or the document when
// root is "*" or missing) whose class list holds className, in document order.
function getElementsByClassName(root, tag, className) {
  if (typeof root === 'string' && root !== '*') root = document.getElementById(root);
  if (!root || root === '*') root = document;
  const wanted = String(className);
  const found = root.getElementsByTagName(tag || '*');
  const result = [];
  for (let i = 0; i < found.length; i++) {
    if (found[i].classList && found[i].classList.contains(wanted)) result.push(found[i]);
  }
  return result;
}
