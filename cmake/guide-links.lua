-- The guide's pages link to each other by their Markdown names; in the release they are
-- HTML pages side by side, so a link to a page of the guide names its HTML page.
function Link(link)
  link.target = (link.target:gsub("^(guide[%w%.%-]*)%.md", "%1.html"))
  return link
end
